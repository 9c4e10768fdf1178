#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "corvane/event_listener.h"
#include "corvane/mutable_event_data.h"

namespace corvane {
namespace {

TEST(EventDataTest, NewEventIsEmpty) {
    MutableEventData event(EVENT_CONNECTIVITY);
    EXPECT_EQ(event.getType(), EVENT_CONNECTIVITY);
    EXPECT_STREQ(event.getTypeName(), "CONNECTIVITY");
    EXPECT_EQ(event.getNode(), nullptr);
    EXPECT_EQ(event.getName(), nullptr);
    EXPECT_EQ(event.getHandleText(), "");
    EXPECT_FALSE(event.isExternal());
    EXPECT_TRUE(event.getNodes()->empty());
    EXPECT_STREQ(MutableEventData(11).getTypeName(), "INVALID");
}

TEST(EventDataTest, HandleTextIsEmptyForZero) {
    MutableEventData event(EVENT_DELETED_NODE);
    event.setHandle(1);
    EXPECT_EQ(event.getHandleText(), "AQAAAAAA");
    event.setHandle(0);
    EXPECT_EQ(event.getHandle(), 0u);
    EXPECT_EQ(event.getHandleText(), "");
}

TEST(EventDataTest, NamesAreOwnedCopies) {
    MutableEventData event(EVENT_UPDATED_NODE);
    char name[] = "/docs/a.txt";
    event.setName(name);
    event.setOldName("a.txt");
    name[1] = 'X';
    EXPECT_STREQ(event.getName(), "/docs/a.txt");
    EXPECT_STREQ(event.getOldName(), "a.txt");
    event.setOldName(nullptr);
    EXPECT_EQ(event.getOldName(), nullptr);
}

TEST(EventDataTest, ListenerCallsItsFunction) {
    auto event = std::make_shared<MutableEventData>(EVENT_CONNECTIVITY);
    event->setState(1);
    event->setClientId(9);
    event->setExternal(true);
    int32_t seen = -1;
    EventListener listener([&](std::shared_ptr<EventData> e) { seen = e->getConnectivity(); });
    listener.onEvent(event);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(event->getClientId(), 9u);
    EXPECT_TRUE(event->isExternal());
    EventListener silent;
    silent.onEvent(event);
}

}  // namespace
}  // namespace corvane
