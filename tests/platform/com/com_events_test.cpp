// Connection points: advising, firing to several sinks, and sinks that change
// the connections or drop the source while an event is running.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "connpt.h"
#include "eventsink.h"

namespace {
constexpr IID kEvents = MakeGuid("{B93AB8B1-746F-4C2D-A1BA-000000000001}");
constexpr EventEntry kEventMap[] = {DispEvent<VT_I4>("PictureReady", 1)};

class CSource final : public CComObjectImpl<IConnectionPointContainer> {
public:
    explicit CSource(bool* destroyed) : m_destroyed(destroyed) {}
    ~CSource() override {
        m_cp.Close();
        *m_destroyed = true;
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        *ppEnum = nullptr;
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        CConnectionPoint* points[] = {&m_cp};
        return CConnectionPoint::Find(points, riid, ppCP);
    }
    CConnectionPoint m_cp{GetUnknown(), kEvents, kEventMap};

private:
    bool* m_destroyed;
};

class ConnectionPoint : public ::testing::Test {
protected:
    // A sink that logs "name:status" and then runs `extra`.
    DWORD Advise(const std::string& name, std::function<void()> extra = {}) {
        auto* sink = new CEventSink(kEvents, {SinkHandler<VT_I4>(1, [this, name, extra](LONG status) {
                                        log.push_back(name + ":" + std::to_string(status));
                                        if (extra) extra();
                                    })});
        DWORD cookie = 0;
        EXPECT_EQ(AdviseSink(source, kEvents, sink, &cookie), S_OK);
        sink->Release();  // the connection point holds it now
        return cookie;
    }
    void TearDown() override {
        if (!destroyed) source->Release();
        EXPECT_TRUE(destroyed);
    }

    bool destroyed = false;
    CSource* source = new CSource(&destroyed);
    std::vector<std::string> log;
};

TEST_F(ConnectionPoint, FiresToEverySinkInOrderWithTheTablesTypes) {
    Advise("a");
    Advise("b");
    EXPECT_EQ(source->m_cp.FireEvent(1, 9L), S_OK);
    EXPECT_EQ(source->m_cp.FireEvent(1, true), S_OK);  // coerced to the declared long
    EXPECT_EQ(source->m_cp.FireEvent(2, 0L), E_INVALIDARG);
    EXPECT_EQ(source->m_cp.FireEvent(1), E_INVALIDARG);
    EXPECT_EQ(log, (std::vector<std::string>{"a:9", "b:9", "a:-1", "b:-1"}));
}

TEST_F(ConnectionPoint, SinksMayChangeTheConnectionsDuringAnEvent) {
    DWORD cookieB = 0, cookieA = 0;
    bool once = true;
    cookieA = Advise("a", [&] {
        if (!once) return;
        once = false;
        EXPECT_EQ(source->m_cp.Unadvise(cookieB), S_OK);  // b is not called any more
        EXPECT_EQ(source->m_cp.Unadvise(cookieA), S_OK);  // nor a itself, which is still running
        Advise("c");                                      // c hears only later events
    });
    cookieB = Advise("b");
    source->m_cp.FireEvent(1, 1L);
    source->m_cp.FireEvent(1, 2L);
    EXPECT_EQ(log, (std::vector<std::string>{"a:1", "c:2"}));
    EXPECT_EQ(source->m_cp.GetConnectionCount(), 1u);
}

TEST_F(ConnectionPoint, ASinkMayDropTheLastReferenceToTheSource) {
    Advise("a", [&] {
        source->Release();
        EXPECT_FALSE(destroyed);  // held until the event is over
    });
    Advise("b");
    CSource* firing = source;
    firing->m_cp.FireEvent(1, 0L);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:0"}));
}

// A sink that only answers IUnknown.
class CDeaf final : public CComObjectImpl<IUnknown> {};

TEST_F(ConnectionPoint, RefusesWhatDoesNotConnect) {
    IConnectionPoint* cp = nullptr;
    EXPECT_EQ(source->FindConnectionPoint(IID_IDispatch, &cp), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(source->FindConnectionPoint(kEvents, &cp), S_OK);
    auto* deaf = new CDeaf;
    DWORD cookie = 1;
    EXPECT_EQ(cp->Advise(deaf, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(cp->Unadvise(42), CONNECT_E_NOCONNECTION);
    deaf->Release();

    IID iid{};
    IConnectionPointContainer* container = nullptr;
    EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, kEvents);
    ASSERT_EQ(cp->GetConnectionPointContainer(&container), S_OK);
    EXPECT_EQ(container, static_cast<IConnectionPointContainer*>(source));
    container->Release();
    cp->Release();
}
}  // namespace
