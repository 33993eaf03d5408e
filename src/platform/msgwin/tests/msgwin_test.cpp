#include "msgwin.h"

#include <gtest/gtest.h>
#include <tcl.h>

#include <thread>
#include <vector>

namespace {

struct Seen {
    std::vector<unsigned> messages;
    std::vector<uintptr_t> p0s;
};

intptr_t Record(MsgWin *w, unsigned msg, uintptr_t p0, uintptr_t p1) {
    Seen *s = (Seen *)MsgWin_ClientData(w);
    s->messages.push_back(msg);
    s->p0s.push_back(p0);
    return 0;
}

void Pump() {
    while (Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT)) {}
}

class MsgWinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }
    void SetUp() override { ASSERT_EQ(MSGWIN_OK, MsgWin_Create("TestComms", Record, &seen, &win)); }
    void TearDown() override {
        if (win) MsgWin_Destroy(win);
    }
    Seen seen;
    MsgWin *win = nullptr;
};

TEST_F(MsgWinTest, delivers_posts_from_other_threads_in_order_on_the_owner_thread) {
    const uintptr_t big = (uintptr_t)0x7ffe12345678ull;   // a 64-bit address survives
    std::thread t([&] {
        for (unsigned i = 0; i < 100; i++) EXPECT_EQ(MSGWIN_OK, MsgWin_Post(win, 1000 + i, big + i, 0));
    });
    t.join();
    EXPECT_TRUE(seen.messages.empty()) << "nothing runs before the event loop is served";
    Pump();
    ASSERT_EQ(100u, seen.messages.size());
    for (unsigned i = 0; i < 100; i++) {
        EXPECT_EQ(1000 + i, seen.messages[i]);
        EXPECT_EQ(big + i, seen.p0s[i]);
    }
}

TEST_F(MsgWinTest, a_blocked_event_loop_wakes_up_for_a_post) {
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        MsgWin_Post(win, 7, 0, 0);
    });
    Tcl_DoOneEvent(TCL_ALL_EVENTS);   // blocks until the post arrives
    t.join();
    ASSERT_EQ(1u, seen.messages.size());
}

TEST_F(MsgWinTest, destroy_drops_queued_messages_and_refuses_later_posts) {
    MsgWin_Post(win, 1, 0, 0);
    MsgWin_Post(win, 2, 0, 0);
    EXPECT_EQ(win, MsgWin_Find("TestComms"));
    EXPECT_EQ(MSGWIN_OK, MsgWin_Destroy(win));
    EXPECT_EQ(nullptr, MsgWin_Find("TestComms"));
    EXPECT_EQ(MSGWIN_EINVAL, MsgWin_Post(win, 3, 0, 0));
    win = nullptr;
    Pump();
    EXPECT_TRUE(seen.messages.empty());
}

TEST_F(MsgWinTest, a_name_is_taken_once_and_is_free_again_after_destroy) {
    MsgWin *other = nullptr;
    EXPECT_EQ(MSGWIN_EEXIST, MsgWin_Create("TestComms", Record, &seen, &other));
    MsgWin_Destroy(win);
    win = nullptr;
    EXPECT_EQ(MSGWIN_OK, MsgWin_Create("TestComms", Record, &seen, &win));
    EXPECT_STRNE("", MsgWin_ErrorText(MSGWIN_EINVAL));
}

TEST_F(MsgWinTest, messages_wait_while_only_other_events_are_served) {
    MsgWin_Post(win, 5, 0, 0);
    while (Tcl_DoOneEvent(TCL_TIMER_EVENTS | TCL_DONT_WAIT)) {}
    EXPECT_TRUE(seen.messages.empty());
    Pump();
    EXPECT_EQ(1u, seen.messages.size());
}

// A window that answers every message with another, as a device at full speed does.
intptr_t Echo(MsgWin *w, unsigned msg, uintptr_t p0, uintptr_t p1) {
    (*(int *)MsgWin_ClientData(w))++;
    MsgWin_Post(w, msg, p0, p1);
    return 0;
}

TEST(MsgWinFlood, posts_that_never_stop_leave_room_for_timers_and_stop_with_the_window) {
    Tcl_FindExecutable(nullptr);
    int delivered = 0;
    MsgWin *w = nullptr;
    ASSERT_EQ(MSGWIN_OK, MsgWin_Create("Flood", Echo, &delivered, &w));
    for (int i = 0; i < 50; i++) MsgWin_Post(w, 1, 0, 0);
    bool fired = false;
    Tcl_TimerToken t = Tcl_CreateTimerHandler(20, [](ClientData cd) { *(bool *)cd = true; }, &fired);
    // Bounded, so that a starved timer fails the test rather than hanging it.
    for (int i = 0; i < 1000000 && !fired; i++) Tcl_DoOneEvent(TCL_ALL_EVENTS);
    EXPECT_TRUE(fired);
    EXPECT_GT(delivered, 50) << "the messages went on being delivered meanwhile";
    if (!fired) Tcl_DeleteTimerHandler(t);
    MsgWin_Destroy(w);
    int before = delivered;
    Pump();
    EXPECT_EQ(before, delivered) << "nothing is delivered after destroy";
}

}  // namespace
