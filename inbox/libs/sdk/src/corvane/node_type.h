#pragma once

#include <cstdint>

namespace corvane {

// The signed 32-bit type of a node. Types 0 to 8 are roots; folders, records and link copies
// are roots too when they have no parent.
enum NodeType : int32_t {
    CLOUD_DRIVE_ROOT = 0,
    BACKUPS_ROOT = 1,
    RECYCLE_BIN_ROOT = 2,
    REGISTER_ROOT = 3,
    SHARED_FOLDERS_ROOT = 4,
    PLAIN_ROOT = 5,
    SECRET_ROOT = 6,
    CONTACTS_ROOT = 7,
    SHARED_DRIVE_ROOT = 8,
    FILE_NODE = 20,
    FOLDER_NODE = 21,
    BACKUP_NODE = 41,
    SNAPSHOT_NODE = 42,
    INBOX_NODE = 43,
    RECORD_NODE = 44,
    LINK_COPY_NODE = 45,
    CONTACT_NODE = 46,
    OUTBOX_NODE = 47,
};

}  // namespace corvane
