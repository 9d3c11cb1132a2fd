// Socket events published to observers: the socket is a subject, the control
// one of its observers.
#pragma once

#include "wintypes.h"

enum : LONG {
    SN_CONNECT = 0x1000,
    SN_CLOSE = 0x1001,
    SN_RECEIVE = 0x1002,
    SN_SEND = 0x1003,
};

// Lives only for the duration of one Notify; observers must not keep it.
struct SocketNotification {
    int* pErrorCode;  // 0 for success, else the socket error that came with the event
    LONG code;        // SN_CONNECT ... SN_SEND
};

class CSubject;

class CObserver {
public:
    virtual void Update(CSubject* subject) = 0;
    virtual ~CObserver() = default;
};

class CSubject {
public:
    CSubject() = default;
    // Tells every entry in order; an observer attached twice hears it twice.
    // Stops when the list becomes empty. Observers may attach and detach
    // (themselves or others) from inside Update: a detached entry that was not
    // reached yet is skipped, one attached during the pass is told in it too.
    virtual void Notify();
    // Frees the entries, not the observers.
    virtual ~CSubject();
    CSubject(const CSubject&) = delete;
    CSubject& operator=(const CSubject&) = delete;

    void Attach(CObserver* observer);  // appends an entry
    void Detach(CObserver* observer);  // removes every entry of it
    void SetNotification(SocketNotification* notification) { m_pNotification = notification; }
    SocketNotification* GetNotification() const { return m_pNotification; }
    int GetObserverCount() const { return m_nCount; }

private:
    struct Node {
        CObserver* pObserver;  // null once detached during a pass
        Node* pPrev;
        Node* pNext;
    };
    void Unlink(Node* node);
    void PurgeDetached();

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    int m_nCount = 0;      // entries still attached
    int m_nPassDepth = 0;  // Notify passes under way (nested when an Update notifies)
    SocketNotification* m_pNotification = nullptr;
};
