#pragma once

#include <QString>
#include <cstdint>

// The main window's item records. They are values: copied into the window's lists and out of
// them; a changed field replaces the record at its index, so list order never changes by it.
// Ids are node handles; dates are seconds since 1970-01-01 00:00 UTC.

// One of the user's own inboxes.
struct InboxItem {
    uint64_t id = 0;
    QString name;
    QString description;
    uint64_t date = 0;
    int visible = 1;
    int checked = 0;
};

// A saved destination (another user's inbox link) belonging to a contact.
struct OutboxItem {
    uint64_t id = 0;
    QString name;
    QString inboxOwner;  // empty until the owner of the destination inbox is known
    uint64_t contactId = 0;
    QString link;
    int visible = 1;
    int checked = 0;
};

struct ContactItem {
    uint64_t id = 0;
    uint64_t userId = 0;
    QString name;
    int visible = 1;
    int checked = 0;
};

// A received or a sent record. party is the sender's contact text of a received record and
// the receiving contact's name of a sent one; parentId its inbox or outbox.
struct RecordItem {
    uint64_t id = 0;
    uint64_t parentId = 0;
    QString party;
    QString subject;
    QString message;
    uint64_t date = 0;
    bool read = false;
    int visible = 1;
    int checked = 0;
};

// An attached file of a received or a sent record.
struct RecordFileItem {
    uint64_t fileId = 0;
    uint64_t recordId = 0;
    QString name;
    uint64_t size = 0;
    uint64_t date = 0;
};
