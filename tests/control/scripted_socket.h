// A CImageSocket whose peer is a script: the test decides when each
// notification arrives and what each read returns, and sees everything the
// control sends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "imagesocket.h"

class ScriptedSocket : public CImageSocket {
public:
    // Set by the test before the control acts.
    int connectError = WSAEWOULDBLOCK;  // what LastError says after Connect
    bool failSend = false;

    // What the control did.
    int creates = 0;
    int closes = 0;
    std::vector<std::string> hosts;
    std::vector<UINT> ports;
    std::vector<std::vector<BYTE>> sent;
    std::vector<int> reportedFailures;
    std::vector<int> readSizes;  // nBufLen of every Receive
    bool connected = false;

    BOOL Create(UINT, int, long, LPCTSTR) override {
        ++creates;
        return TRUE;
    }
    BOOL Connect(LPCTSTR host, UINT port) override {
        hosts.emplace_back(host ? host : "(null)");
        ports.push_back(port);
        m_error = connectError;
        return FALSE;
    }
    int Send(const void* buf, int len, int) override {
        if (!connected || failSend) {
            m_error = WSAENOTCONN;
            return SOCKET_ERROR;
        }
        const auto* p = static_cast<const BYTE*>(buf);
        sent.emplace_back(p, p + len);
        return len;
    }
    int Receive(void* buf, int len, int) override {
        readSizes.push_back(len);
        if (!connected || m_chunks.empty()) {
            m_error = WSAEWOULDBLOCK;
            return SOCKET_ERROR;
        }
        std::vector<BYTE>& chunk = m_chunks.front();
        const int n = std::min<int>(len, int(chunk.size()));
        std::copy(chunk.begin(), chunk.begin() + n, static_cast<BYTE*>(buf));
        chunk.erase(chunk.begin(), chunk.begin() + n);
        if (chunk.empty()) m_chunks.pop_front();
        return n;
    }
    void Close() override {
        ++closes;
        connected = false;
        m_chunks.clear();
    }
    int LastError() const override { return m_error; }
    void ReportConnectFailure(int err) override { reportedFailures.push_back(err); }

    // Notifications, as the event loop would deliver them.
    void Connected() {
        connected = true;
        OnConnect(0);
        OnSend(0);  // a connected socket is writable
    }
    void ConnectFails(int err) { OnConnect(err); }
    void PeerCloses(int err = 0) {
        connected = false;
        OnClose(err);
    }
    void SendError(int err) { OnSend(err); }
    void ReceiveError(int err) { OnReceive(err); }
    using CImageSocket::Notify;  // the subject's own Notify() stays callable
    void Notify(LONG code, int err) {
        switch (code) {
        case SN_CONNECT: OnConnect(err); break;
        case SN_CLOSE: OnClose(err); break;
        case SN_RECEIVE: OnReceive(err); break;
        case SN_SEND: OnSend(err); break;
        default: break;
        }
    }

    // Queues `bytes` as reads of the given sizes (the last size repeats), then
    // delivers a read notification while bytes are waiting, like the real one.
    void Deliver(const std::vector<BYTE>& bytes, std::vector<int> sizes = {1 << 30}) {
        size_t at = 0, i = 0;
        while (at < bytes.size()) {
            const size_t n = std::min<size_t>(size_t(sizes[std::min(i, sizes.size() - 1)]), bytes.size() - at);
            m_chunks.emplace_back(bytes.begin() + long(at), bytes.begin() + long(at + n));
            at += n;
            ++i;
        }
        Pump();
    }
    // Read notifications while anything is waiting (and the connection is up).
    void Pump() {
        while (connected && !m_chunks.empty()) OnReceive(0);
    }
    // Queues without notifying.
    void Queue(const std::vector<BYTE>& bytes) { m_chunks.emplace_back(bytes); }
    bool Waiting() const { return !m_chunks.empty(); }

private:
    std::deque<std::vector<BYTE>> m_chunks;
    int m_error = 0;
};
