// Observer list and the socket's event publishing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted_socket.h"
#include "subject.h"

namespace {

struct Recorder : CObserver {
    std::string name;
    std::vector<std::string>* log;
    std::function<void(CSubject*)> action;
    Recorder(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
    void Update(CSubject* subject) override {
        log->push_back(name);
        if (action) action(subject);
    }
};

TEST(Subject, TellsEntriesInOrderOncePerEntry) {
    std::vector<std::string> log;
    Recorder a("a", &log), b("b", &log);
    CSubject s;
    s.Attach(&a);
    s.Attach(&b);
    s.Attach(&a);
    s.Notify();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "a"}));
    s.Detach(&a);
    EXPECT_EQ(s.GetObserverCount(), 1);
    log.clear();
    s.Notify();
    EXPECT_EQ(log, std::vector<std::string>{"b"});
    EXPECT_EQ(s.GetNotification(), nullptr);
}

TEST(Subject, ObserversChangingTheListDuringAPass) {
    struct Case {
        const char* name;
        std::function<void(Recorder& a, Recorder& b, Recorder& c, CSubject& s)> arrange;
        std::vector<std::string> told;
        int left;
    };
    const Case cases[] = {
        {"a detaches itself",
         [](Recorder& a, Recorder&, Recorder&, CSubject& s) { a.action = [&a, &s](CSubject*) { s.Detach(&a); }; },
         {"a", "b", "c"},
         2},
        {"a detaches b before it is reached",
         [](Recorder& a, Recorder& b, Recorder&, CSubject& s) { a.action = [&b, &s](CSubject*) { s.Detach(&b); }; },
         {"a", "c"},
         2},
        {"everyone detached: the pass stops",
         [](Recorder& a, Recorder& b, Recorder& c, CSubject& s) {
             a.action = [&](CSubject*) {
                 s.Detach(&a);
                 s.Detach(&b);
                 s.Detach(&c);
             };
         },
         {"a"},
         0},
        {"b attaches c again",
         [](Recorder&, Recorder& b, Recorder& c, CSubject& s) { b.action = [&c, &s](CSubject*) { s.Attach(&c); }; },
         {"a", "b", "c", "c"},
         4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<std::string> log;
        Recorder a("a", &log), b("b", &log), c("c", &log);
        CSubject s;
        s.Attach(&a);
        s.Attach(&b);
        s.Attach(&c);
        k.arrange(a, b, c, s);
        s.Notify();
        EXPECT_EQ(log, k.told);
        EXPECT_EQ(s.GetObserverCount(), k.left);
    }
}

struct Catcher : CObserver {
    std::vector<std::pair<LONG, int>> seen;
    void Update(CSubject* subject) override {
        const SocketNotification* n = subject->GetNotification();
        ASSERT_NE(n, nullptr);
        seen.emplace_back(n->code, *n->pErrorCode);
    }
};

TEST(ImageSocket, PublishesEachEventWithItsErrorAndForgetsTheRecord) {
    ScriptedSocket socket;
    Catcher catcher;
    socket.Attach(&catcher);
    socket.ConnectFails(WSAECONNREFUSED);
    socket.Connected();
    socket.ReceiveError(WSAENETDOWN);
    socket.PeerCloses(WSAECONNRESET);
    EXPECT_EQ(catcher.seen, (std::vector<std::pair<LONG, int>>{{SN_CONNECT, WSAECONNREFUSED},
                                                               {SN_CONNECT, 0},
                                                               {SN_SEND, 0},
                                                               {SN_RECEIVE, WSAENETDOWN},
                                                               {SN_CLOSE, WSAECONNRESET}}));
    EXPECT_EQ(socket.GetNotification(), nullptr);
    socket.Detach(&catcher);
}

}  // namespace
