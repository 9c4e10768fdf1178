// The tables in this file are laid out by hand, one row a line.
// clang-format off
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "action/action_directory.h"
#include "action/action_processor.h"
#include "corvane/action_listener.h"
#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_data.h"
#include "support/fake_api_manager.h"
#include "support/log_capture.h"
#include "support/recording_listeners.h"

namespace corvane {
namespace {

using Fill = std::function<void(MutableActionData&)>;

// Records the notifications that reach the execution manager's face, as "<kind>:<error>".
class RecordingListener : public test::RecordingActionListener {
public:
    RecordingListener() : RecordingActionListener(Options{"", &RecordingActionListener::errorCode}) {}
};

std::shared_ptr<NodeData> namedNode(const char* name) {
    return std::make_shared<NodeData>(7, 21, name, nullptr, nullptr, 0, nullptr, nullptr, 0, 1, 0, 0, 0, 0, false,
                                      false, 0, nullptr, nullptr, 0, false, Error(), nullptr, nullptr, nullptr,
                                      nullptr);
}

const char* const kCron = "0 0 12 * * *";

// The session and write-access answers as the catalogue gives them; types with answers that
// depend on the record are checked on their own below.
const std::set<int32_t> kNoSession = {TEST,         VERIFY_EMAIL,      FORGOT_PASSWORD, LOGIN,
                                      GET_LINK_INFO, LOG_EVENT,        TEST_PROXY,      SET_PROXY,
                                      UPLOAD,        DOWNLOAD,         DOWNLOAD_ZIP,    STREAM,
                                      BACKUP,        UPLOAD_METADATA,  DOWNLOAD_METADATA, GET_TRANSFERS,
                                      CLEAR_FINISHED_TRANSFERS, CANCEL_TRANSFERS, SET_TRANSFER_SPEED_LIMIT,
                                      GET_TRANSFER_SPEED_LIMIT, GET_INBOX_INFO, LOGIN_LINK, GET_RECORD_INFO,
                                      CRASH_REPORT,  UPDATE,           DESTROY};
const std::set<int32_t> kWrite = {
    ADD_CONTACT,       ADD_NODES,          DELETE_NODE,       RENAME_NODE,       MOVE_NODE,
    COPY_NODE,         CREATE_LINK,        UPLOAD,            BACKUP,            UPLOAD_METADATA,
    REGISTER_DEVICE,   RENAME_DEVICE,      DELETE_DEVICE,     CREATE_BACKUP,     MODIFY_BACKUP,
    RENAME_BACKUP,     CHANGE_BACKUP_SCHEDULE, CHANGE_BACKUP_PATH, CHANGE_BACKUP_STATUS, DELETE_BACKUP,
    AUTHORIZE_BACKUP,  CREATE_INBOX,       SET_INBOX_INFO,    SET_RECORD_INFO,   UPLOAD_TO_RECORD,
    REMOVE_FROM_RECORD, SET_RECORD_STATUS, PAYMENT_INFO,      REMOVE_PAYMENT_METHOD, SET_INVOICING_ADDRESS,
    ADD_PAYMENT_METHOD, REVOKE_ACCOUNT_ACCESS, MANAGE_CONTACTS, MANAGE_OUTBOXES, MANAGE_SENT_RECORDS,
    SET_ACCOUNT_VALUE, DELETE_ACCOUNT,     SET_ACCESS_LEVEL,  DELETE_LINK};
const std::set<int32_t> kComputed = {CREATE_ACCOUNT, ACCOUNT_INFO, SUBSCRIPTION_OPTIONS, COUPONS,
                                     JOIN_LINK,      MANAGE_SECRETS, MANAGE_SHARED_DRIVES};
const std::set<int32_t> kAlwaysValid = {
    TEST,           RECOVERY_KEY,         GET_NODES,          USER_INFO,          ACCOUNT_INFO,
    GET_CURRENT_DEVICE, GET_DEVICES,      GET_BACKUPS,        GET_NEXT_SNAPSHOTS, GET_NEXT_SNAPSHOTS_BY_ACCOUNT,
    GET_LAST_SNAPSHOTS, GET_LAST_SNAPSHOTS_BY_ACCOUNT, SET_RECORD_INFO, SUBSCRIPTION_OPTIONS,
    REMOVE_PAYMENT_METHOD, INVOICING_INFO, SESSION_INFO,      LOGOUT_LINK,        LOGOUT,
    CURRENT_EMAIL,  NEW_SESSION,          DESTROY,            REFERRALS_INFO,     BALANCES_INFO,
    REVOKE_ACCOUNT_ACCESS, MANAGE_SHARED_DRIVES};

// For every type that checks its parameters: a record it accepts, and one it refuses when an
// empty record would pass. Types not listed accept every record.
struct Parameters {
    Fill valid;
    Fill invalid;
};

std::map<int32_t, Parameters> parameterTable() {
    auto node = [](MutableActionData& d) { d.setNodeHandle(5); };
    auto nodeName = [](MutableActionData& d) { d.setNodeHandle(5); d.setName("n"); };
    auto name = [](MutableActionData& d) { d.setName("n"); };
    auto link = [](MutableActionData& d) { d.setLink("l"); };
    auto email = [](MutableActionData& d) { d.setEmail("e"); };
    auto nodeOption = [](MutableActionData& d) { d.setNodeHandle(5); d.setOption(3); };
    return {
        {ADD_CONTACT, {email, {}}},
        {VERIFY_EMAIL, {[](MutableActionData& d) { d.setEmail("e"); d.setName("n"); d.setExtraText("x"); }, {}}},
        {FORGOT_PASSWORD, {email, {}}},
        {CREATE_ACCOUNT, {{}, [](MutableActionData& d) { d.setText("t"); d.setName("n"); }}},
        {CHANGE_PASSWORD, {[](MutableActionData& d) { d.setPassword("p"); }, {}}},
        {MANAGE_2FA, {[](MutableActionData& d) { d.setOption(3); }, [](MutableActionData& d) { d.setOption(4); }}},
        {LOGIN, {[](MutableActionData& d) { d.setEmail("e"); d.setPassword("p"); }, {}}},
        {GET_ROOT, {[](MutableActionData& d) { d.setOption(9); }, [](MutableActionData& d) { d.setOption(10); }}},
        {GET_CHILDREN, {[](MutableActionData& d) { d.setParentHandle(5); d.setOption(2); d.setValue(-6); }, {}}},
        {GET_NODE, {[](MutableActionData& d) { d.setText("/a"); }, [](MutableActionData& d) { d.setText("a"); }}},
        {GET_PATH, {node, {}}},
        {ADD_NODES,
         {[](MutableActionData& d) {
              d.setParentHandle(5);
              d.setNodes(std::make_shared<NodeList>(NodeList{namedNode("a"), namedNode("b")}));
          },
          {}}},
        {DELETE_NODE, {node, {}}},
        {RENAME_NODE, {nodeName, {}}},
        {MOVE_NODE, {[](MutableActionData& d) { d.setNodeHandle(5); d.setParentHandle(6); }, {}}},
        {COPY_NODE, {[](MutableActionData& d) { d.setNodeHandle(5); d.setParentHandle(5); }, {}}},
        {CREATE_LINK, {[](MutableActionData& d) { d.setNumber(1); d.setValue(1); }, {}}},
        {GET_LINK_INFO, {link, {}}},
        {LOG_EVENT, {[](MutableActionData& d) { d.setOption(8999); }, {}}},
        {TEST_PROXY, {[](MutableActionData& d) { d.setOption(1); }, {}}},
        {SET_PROXY, {[](MutableActionData& d) { d.setText(""); }, {}}},
        {UPLOAD, {[](MutableActionData& d) { d.setName("n"); d.setParentHandle(5); }, {}}},
        {DOWNLOAD, {[](MutableActionData& d) { d.setLink("l"); d.setName("n"); }, {}}},
        {DOWNLOAD_ZIP, {nodeName, {}}},
        {STREAM, {link, {}}},
        {BACKUP, {node, {}}},
        {UPLOAD_METADATA, {[](MutableActionData& d) { d.setName("n"); d.setNodeHandle(5); d.setOption(2); }, {}}},
        {DOWNLOAD_METADATA, {[](MutableActionData& d) { d.setName("n"); d.setText("t"); d.setOption(1); }, {}}},
        {GET_TRANSFERS, {[](MutableActionData& d) { d.setValue(4); d.setOption(6); },
                         [](MutableActionData& d) { d.setOption(7); }}},
        {CLEAR_FINISHED_TRANSFERS, {[](MutableActionData& d) { d.setValue(1); }, [](MutableActionData& d) { d.setValue(2); }}},
        {CANCEL_TRANSFERS, {[](MutableActionData& d) { d.setValue(4); }, [](MutableActionData& d) { d.setValue(3); }}},
        {SET_TRANSFER_SPEED_LIMIT, {[](MutableActionData& d) { d.setNumber(1); }, [](MutableActionData& d) { d.setOption(-1); }}},
        {GET_TRANSFER_SPEED_LIMIT, {[](MutableActionData& d) { d.setNumber(1); }, [](MutableActionData& d) { d.setNumber(2); }}},
        {REGISTER_DEVICE, {name, {}}},
        {SELECT_DEVICE, {node, {}}},
        {GET_DEVICE, {name, {}}},
        {RENAME_DEVICE, {nodeName, {}}},
        {DELETE_DEVICE, {node, {}}},
        {GET_BACKUP, {node, {}}},
        {CREATE_BACKUP, {[](MutableActionData& d) { d.setName("n"); d.setText(kCron); d.setLink("/p"); d.setFlags(2); }, {}}},
        {MODIFY_BACKUP,
         {[](MutableActionData& d) { d.setNodeHandle(5); d.setName("n"); d.setText(kCron); d.setLink("/p"); }, {}}},
        {RENAME_BACKUP, {nodeName, {}}},
        {CHANGE_BACKUP_SCHEDULE, {[](MutableActionData& d) { d.setNodeHandle(5); d.setName(kCron); }, {}}},
        {CHANGE_BACKUP_PATH, {nodeName, {}}},
        {CHANGE_BACKUP_STATUS, {node, {}}},
        {DELETE_BACKUP, {node, {}}},
        {AUTHORIZE_BACKUP, {node, {}}},
        {GET_SNAPSHOTS, {node, {}}},
        {GET_NEXT_SNAPSHOTS_BY_DEVICE, {node, {}}},
        {GET_NEXT_SNAPSHOTS_BY_BACKUP, {nodeOption, {}}},
        {GET_NEXT_SNAPSHOTS_BY_SCHEDULE, {[](MutableActionData& d) { d.setOption(3); d.setName(kCron); }, {}}},
        {GET_LAST_SNAPSHOTS_BY_DEVICE, {node, {}}},
        {GET_LAST_SNAPSHOTS_BY_BACKUP, {nodeOption, {}}},
        {CREATE_INBOX, {name, {}}},
        {SET_INBOX_INFO, {nodeName, {}}},
        {GET_INBOX_INFO, {link, {}}},
        {LOGIN_LINK, {link, {}}},
        {UPLOAD_TO_RECORD, {name, {}}},
        {REMOVE_FROM_RECORD, {node, {}}},
        {GET_RECORD_INFO, {link, {}}},
        {SET_RECORD_STATUS, {[](MutableActionData& d) { d.setNodeHandle(5); d.setOption(1); }, {}}},
        {PAYMENT_INFO, {[](MutableActionData& d) { d.setNumber(9); }, {}}},
        {SET_INVOICING_ADDRESS, {[](MutableActionData& d) { d.setName("n"); d.setEmail("e"); d.setLink("l"); }, {}}},
        {GET_INVOICE, {[](MutableActionData& d) { d.setNumber(9); d.setName("n"); }, {}}},
        {CRASH_REPORT, {name, {}}},
        {UPDATE,
         {[](MutableActionData& d) {
              d.setNumber(2);
              d.setName("n");
              d.setOption(1);
              d.setText("t");
              d.setSession("s");
          },
          {}}},
        {COUPONS, {{}, [](MutableActionData& d) { d.setValue(4); }}},
        {ADD_PAYMENT_METHOD, {[](MutableActionData& d) { d.setOption(4); }, {}}},
        {JOIN_LINK, {[](MutableActionData& d) { d.setEmail("e"); d.setOption(1); }, {}}},
        {DEFAULT_ACCOUNT, {[](MutableActionData& d) { d.setAccountHandle(3); }, {}}},
        {MANAGE_SECRETS, {[](MutableActionData& d) { d.setOption(1); }, {}}},
        {MANAGE_CONTACTS, {node, {}}},
        {MANAGE_OUTBOXES, {node, {}}},
        {MANAGE_SENT_RECORDS, {[](MutableActionData& d) { d.setNodeHandle(5); d.setLink("l"); }, {}}},
        {GET_NODE_TREE, {[](MutableActionData& d) { d.setParentHandle(5); }, {}}},
        {SET_ACCOUNT_VALUE, {{}, [](MutableActionData& d) { d.setOption(1); }}},
        {DELETE_ACCOUNT, {[](MutableActionData& d) { d.setText("t"); }, {}}},
        {SET_ACCESS_LEVEL, {[](MutableActionData& d) { d.setUserHandle(4); d.setOption(1); }, {}}},
        {DELETE_LINK, {link, {}}},
        {MANAGE_MEETINGS, {node, {}}},
    };
}

class CatalogueTest : public ::testing::TestWithParam<int32_t> {
protected:
    std::shared_ptr<MutableActionData> record(const Fill& fill) {
        auto data = std::make_shared<MutableActionData>(GetParam());
        data->setSequenceId(1);
        // A signed-in user's master key, which the recovery key is made from.
        manager.masterKey.assign(32, 1);
        if (fill) {
            fill(*data);
        }
        return data;
    }

    std::vector<std::string> run(const std::shared_ptr<MutableActionData>& data) {
        std::unique_ptr<ActionProcessor> processor(
            directory.createProcessor(uint32_t(GetParam()), &manager, &manager.loop, &listener));
        if (processor->start(data) && processor->checkSession(data) && processor->checkAccess(data)) {
            processor->process(data);
        }
        manager.loop.runTasks();
        return listener.calls;
    }

    test::LogCapture log;
    ActionProcessorDirectory directory;
    test::FakeApiManager manager;
    RecordingListener listener;
};

const std::vector<std::string> kEndedWith5 = {"start:5", "processed:5", "finish:5"};
const std::vector<std::string> kEndedWith2 = {"start:2", "processed:2", "finish:2"};

TEST_P(CatalogueTest, TypeAndName) {
    std::unique_ptr<ActionProcessor> processor(directory.createProcessor(uint32_t(GetParam()), &manager, &manager.loop, &listener));
    ASSERT_TRUE(processor);
    EXPECT_EQ(processor->getType(), GetParam());
    EXPECT_STREQ(processor->getName(), getActionTypeName(GetParam()));
}

TEST_P(CatalogueTest, RefusedParametersEndWithError5) {
    if (kAlwaysValid.count(GetParam()) > 0) {
        EXPECT_EQ(parameterTable().count(GetParam()), 0u);
        EXPECT_NE(run(record({})), kEndedWith5) << "an always-valid type must pass an empty record";
        return;
    }
    auto table = parameterTable();
    auto entry = table.find(GetParam());
    ASSERT_NE(entry, table.end()) << "no parameters for " << getActionTypeName(GetParam());
    EXPECT_EQ(run(record(entry->second.invalid)), kEndedWith5);
}

TEST_P(CatalogueTest, AcceptedParametersPassValidate) {
    auto table = parameterTable();
    Fill fill = table.count(GetParam()) > 0 ? table[GetParam()].valid : Fill();
    std::unique_ptr<ActionProcessor> processor(directory.createProcessor(uint32_t(GetParam()), &manager, &manager.loop, &listener));
    EXPECT_TRUE(processor->validate(record(fill)));
}

TEST_P(CatalogueTest, MissingSessionEndsWithError2WhereNeeded) {
    if (kComputed.count(GetParam()) > 0) {
        return;
    }
    auto table = parameterTable();
    Fill fill = table.count(GetParam()) > 0 ? table[GetParam()].valid : Fill();
    manager.session.clear();
    std::vector<std::string> calls = run(record(fill));
    if (kNoSession.count(GetParam()) > 0) {
        EXPECT_NE(calls, kEndedWith2);
    } else {
        EXPECT_EQ(calls, kEndedWith2);
    }
}

TEST_P(CatalogueTest, ReadOnlyAccessEndsWithError2WhereWriteIsNeeded) {
    if (kComputed.count(GetParam()) > 0) {
        return;
    }
    auto table = parameterTable();
    Fill fill = table.count(GetParam()) > 0 ? table[GetParam()].valid : Fill();
    manager.accessLevel = 1;
    std::vector<std::string> calls = run(record(fill));
    if (kWrite.count(GetParam()) > 0) {
        EXPECT_EQ(calls, kEndedWith2);
    } else {
        EXPECT_NE(calls, kEndedWith2);
    }
}

// The types whose bodies run for real; they are covered with their requests, the execution
// manager and end to end.
const std::set<int32_t> kWithBody = {
    TEST,           DESTROY,         VERIFY_EMAIL, FORGOT_PASSWORD, CREATE_ACCOUNT, CHANGE_PASSWORD,
    RECOVERY_KEY,   MANAGE_2FA,      LOGIN,        LOGOUT,          NEW_SESSION,    SESSION_INFO,
    CURRENT_EMAIL,  GET_NODES,       GET_ROOT,     GET_CHILDREN,    GET_NODE,       GET_PATH,
    GET_NODE_TREE,  ADD_NODES,       DELETE_NODE,  RENAME_NODE,     MOVE_NODE,      COPY_NODE,
    // Account information and settings.
    ACCOUNT_INFO, USER_INFO, SET_ACCOUNT_VALUE, DEFAULT_ACCOUNT, SET_ACCESS_LEVEL, REVOKE_ACCOUNT_ACCESS, DELETE_ACCOUNT,
    // Metadata transfers.
    UPLOAD_METADATA, DOWNLOAD_METADATA,
    // File transfers and their management.
    UPLOAD, DOWNLOAD, GET_TRANSFERS, CLEAR_FINISHED_TRANSFERS, CANCEL_TRANSFERS, SET_TRANSFER_SPEED_LIMIT,
    GET_TRANSFER_SPEED_LIMIT,
    // Contacts, outboxes and sent records.
    ADD_CONTACT, MANAGE_CONTACTS, MANAGE_OUTBOXES, MANAGE_SENT_RECORDS,
    // Public links.
    CREATE_LINK, GET_LINK_INFO, DELETE_LINK,
    // Inboxes, records and link sessions.
    CREATE_INBOX, SET_INBOX_INFO, GET_INBOX_INFO, SET_RECORD_INFO, UPLOAD_TO_RECORD, REMOVE_FROM_RECORD,
    GET_RECORD_INFO, SET_RECORD_STATUS, LOGIN_LINK, LOGOUT_LINK,
};

// Past its checks an action without a body in this build ends with 9, so nothing waits on it.
TEST_P(CatalogueTest, UnavailableBodyEndsWithError9) {
    if (kWithBody.count(GetParam()) > 0) {
        return;
    }
    auto table = parameterTable();
    Fill fill = table.count(GetParam()) > 0 ? table[GetParam()].valid : Fill();
    EXPECT_EQ(run(record(fill)), (std::vector<std::string>{"start:9", "processed:9", "finish:9"}));
    EXPECT_EQ(log.count("Operation not available yet"), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, CatalogueTest, ::testing::Range<int32_t>(0, ACTION_TYPE_COUNT),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::string(getActionTypeName(info.param));
                         });

// Answers that depend on the record.
struct ComputedCase {
    const char* name;
    int32_t type;
    Fill fill;
    bool session;
    bool write;
};

class ComputedAnswersTest : public ::testing::TestWithParam<ComputedCase> {};

TEST_P(ComputedAnswersTest, Answers) {
    const ComputedCase& c = GetParam();
    ActionProcessorDirectory directory;
    test::FakeApiManager manager;
    std::unique_ptr<ActionProcessor> processor(directory.createProcessor(uint32_t(c.type), &manager, &manager.loop, nullptr));
    auto data = std::make_shared<MutableActionData>(c.type);
    if (c.fill) {
        c.fill(*data);
    }
    EXPECT_EQ(processor->needsSession(data), c.session);
    EXPECT_EQ(processor->needsWriteAccess(data), c.write);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ComputedAnswersTest,
    ::testing::Values(
        ComputedCase{"CreateAccountWithoutText", CREATE_ACCOUNT, {}, true, false},
        ComputedCase{"CreateAccountWithText", CREATE_ACCOUNT, [](MutableActionData& d) { d.setText(""); }, false, false},
        ComputedCase{"AccountInfoPlain", ACCOUNT_INFO, {}, true, false},
        ComputedCase{"AccountInfoWithLink", ACCOUNT_INFO, [](MutableActionData& d) { d.setLink(""); }, false, false},
        ComputedCase{"AccountInfoWithAccount", ACCOUNT_INFO, [](MutableActionData& d) { d.setAccountHandle(2); }, false, false},
        ComputedCase{"SubscriptionOptionsZero", SUBSCRIPTION_OPTIONS, {}, false, false},
        ComputedCase{"SubscriptionOptionsSet", SUBSCRIPTION_OPTIONS, [](MutableActionData& d) { d.setOption(-1); }, true, true},
        ComputedCase{"Coupons0", COUPONS, {}, true, false},
        ComputedCase{"Coupons1", COUPONS, [](MutableActionData& d) { d.setValue(1); }, true, true},
        ComputedCase{"Coupons2", COUPONS, [](MutableActionData& d) { d.setValue(2); }, true, true},
        ComputedCase{"Coupons3", COUPONS, [](MutableActionData& d) { d.setValue(3); }, false, false},
        ComputedCase{"JoinAccountWithoutText", JOIN_LINK, [](MutableActionData& d) { d.setAccountHandle(2); }, true, false},
        ComputedCase{"JoinAccountWithText", JOIN_LINK, [](MutableActionData& d) { d.setAccountHandle(2); d.setText("t"); }, false, false},
        ComputedCase{"JoinWithoutLink", JOIN_LINK, {}, true, true},
        ComputedCase{"JoinWithLink", JOIN_LINK, [](MutableActionData& d) { d.setLink("l"); }, false, false},
        ComputedCase{"Secrets1", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(1); }, true, false},
        ComputedCase{"Secrets2", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(2); }, true, true},
        ComputedCase{"Secrets3", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(3); }, true, false},
        ComputedCase{"Secrets5", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(5); }, true, true},
        ComputedCase{"Secrets6", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(6); }, true, false},
        ComputedCase{"Secrets7", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(7); }, true, true},
        ComputedCase{"Secrets8", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(8); }, true, true},
        ComputedCase{"DrivesList", MANAGE_SHARED_DRIVES, [](MutableActionData& d) { d.setOption(1); }, true, false},
        ComputedCase{"DrivesNamed", MANAGE_SHARED_DRIVES, [](MutableActionData& d) { d.setName(""); }, true, true},
        ComputedCase{"DrivesNodeOption1", MANAGE_SHARED_DRIVES,
                     [](MutableActionData& d) { d.setNodeHandle(4); d.setOption(1); }, true, false},
        ComputedCase{"DrivesNodeOption2", MANAGE_SHARED_DRIVES,
                     [](MutableActionData& d) { d.setNodeHandle(4); d.setOption(2); }, true, true},
        ComputedCase{"DrivesNodeAccount", MANAGE_SHARED_DRIVES,
                     [](MutableActionData& d) { d.setNodeHandle(4); d.setOption(1); d.setAccountHandle(3); }, true, true},
        ComputedCase{"DrivesNodeLink", MANAGE_SHARED_DRIVES,
                     [](MutableActionData& d) { d.setNodeHandle(4); d.setOption(1); d.setLink("l"); }, true, true},
        ComputedCase{"DrivesNoNodeOption2", MANAGE_SHARED_DRIVES, [](MutableActionData& d) { d.setOption(2); }, true, false}),
    [](const ::testing::TestParamInfo<ComputedCase>& info) { return std::string(info.param.name); });

// Boundaries of the parameter checks that are easy to get wrong.
struct ValidateCase {
    const char* name;
    int32_t type;
    Fill fill;
    bool valid;
};

class ValidateBoundaryTest : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateBoundaryTest, Validate) {
    const ValidateCase& c = GetParam();
    ActionProcessorDirectory directory;
    test::FakeApiManager manager;
    std::unique_ptr<ActionProcessor> processor(directory.createProcessor(uint32_t(c.type), &manager, &manager.loop, nullptr));
    auto data = std::make_shared<MutableActionData>(c.type);
    c.fill(*data);
    EXPECT_EQ(processor->validate(data), c.valid);
}

const std::string kSession43(43, 's');

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ValidateBoundaryTest,
    ::testing::Values(
        ValidateCase{"LoginPasswordWithRecoveryId", LOGIN, [](MutableActionData& d) { d.setEmail("e"); d.setPassword("p"); d.setText("r"); }, false},
        ValidateCase{"LoginRecovery", LOGIN, [](MutableActionData& d) { d.setEmail("e"); d.setPassword("p"); d.setText("r"); d.setOption(1234); }, true},
        ValidateCase{"LoginSession43", LOGIN, [](MutableActionData& d) { d.setSession(kSession43.c_str()); }, false},
        ValidateCase{"LoginSession44", LOGIN, [](MutableActionData& d) { d.setSession((kSession43 + "x").c_str()); }, true},
        ValidateCase{"LoginEmptyEmailIsSet", LOGIN, [](MutableActionData& d) { d.setEmail(""); d.setPassword(""); }, true},
        ValidateCase{"ChildrenNegativeOption", GET_CHILDREN, [](MutableActionData& d) { d.setParentHandle(1); d.setOption(-1); }, false},
        ValidateCase{"ChildrenValue7", GET_CHILDREN, [](MutableActionData& d) { d.setParentHandle(1); d.setValue(7); }, false},
        ValidateCase{"ChildrenValueMinus7", GET_CHILDREN, [](MutableActionData& d) { d.setParentHandle(1); d.setValue(-7); }, false},
        ValidateCase{"RootNegative", GET_ROOT, [](MutableActionData& d) { d.setOption(-1); }, false},
        ValidateCase{"NodeEmptyPath", GET_NODE, [](MutableActionData& d) { d.setText(""); }, false},
        ValidateCase{"AddNodesSlash", ADD_NODES,
                     [](MutableActionData& d) {
                         d.setParentHandle(5);
                         d.setNodes(std::make_shared<NodeList>(NodeList{namedNode("a"), namedNode("b/c")}));
                     },
                     false},
        ValidateCase{"AddNodesNoParent", ADD_NODES,
                     [](MutableActionData& d) { d.setNodes(std::make_shared<NodeList>(NodeList{namedNode("a")})); }, false},
        ValidateCase{"RenameSlash", RENAME_NODE, [](MutableActionData& d) { d.setNodeHandle(1); d.setName("a/b"); }, false},
        ValidateCase{"MoveOntoItself", MOVE_NODE, [](MutableActionData& d) { d.setNodeHandle(1); d.setParentHandle(1); }, false},
        ValidateCase{"CreateLinkValue2", CREATE_LINK, [](MutableActionData& d) { d.setNodeHandle(1); d.setValue(2); }, false},
        ValidateCase{"LogEvent3999", LOG_EVENT, [](MutableActionData& d) { d.setOption(3999); }, false},
        ValidateCase{"LogEvent9000", LOG_EVENT, [](MutableActionData& d) { d.setOption(9000); }, false},
        ValidateCase{"LogEvent4000", LOG_EVENT, [](MutableActionData& d) { d.setOption(4000); }, true},
        ValidateCase{"CreateBackupBadCron", CREATE_BACKUP,
                     [](MutableActionData& d) { d.setName("n"); d.setText("* *"); d.setLink("/p"); }, false},
        ValidateCase{"CreateBackupFlags3", CREATE_BACKUP,
                     [](MutableActionData& d) { d.setName("n"); d.setText(kCron); d.setLink("/p"); d.setFlags(3); }, false},
        ValidateCase{"ScheduleCronInName", CHANGE_BACKUP_SCHEDULE,
                     [](MutableActionData& d) { d.setNodeHandle(1); d.setName("n"); d.setText(kCron); }, false},
        ValidateCase{"MetadataOption3", UPLOAD_METADATA,
                     [](MutableActionData& d) { d.setName("n"); d.setNodeHandle(1); d.setOption(3); }, false},
        ValidateCase{"Update1NeedsUserPrivateKey", UPDATE,
                     [](MutableActionData& d) { d.setNumber(1); d.setName("n"); d.setOption(1); d.setLink("l"); d.setText("t"); }, false},
        ValidateCase{"Update1", UPDATE,
                     [](MutableActionData& d) {
                         d.setNumber(1); d.setName("n"); d.setOption(1); d.setLink("l"); d.setText("t");
                         d.setUserPrivateKey(new ByteVector{1});
                     },
                     true},
        ValidateCase{"Update3NeedsEmail", UPDATE,
                     [](MutableActionData& d) { d.setNumber(3); d.setName("n"); d.setOption(1); d.setLink("l"); d.setText("t"); d.setSession("s"); }, false},
        ValidateCase{"Update5", UPDATE,
                     [](MutableActionData& d) { d.setNumber(5); d.setName("n"); d.setOption(1); d.setLink("l"); d.setText("t"); d.setSession("s"); d.setEmail("e"); }, false},
        ValidateCase{"Coupons1WithoutOption", COUPONS, [](MutableActionData& d) { d.setValue(1); }, false},
        ValidateCase{"Coupons3EmptyText", COUPONS, [](MutableActionData& d) { d.setValue(3); d.setText(""); }, false},
        ValidateCase{"PaymentMethod3WithoutName", ADD_PAYMENT_METHOD, [](MutableActionData& d) { d.setOption(3); d.setText("t"); }, false},
        ValidateCase{"PaymentMethod0", ADD_PAYMENT_METHOD, [](MutableActionData& d) { d.setOption(0); }, false},
        ValidateCase{"JoinAccountEmptyLink", JOIN_LINK, [](MutableActionData& d) { d.setAccountHandle(1); d.setLink(""); }, false},
        ValidateCase{"JoinOption2WithoutLink", JOIN_LINK, [](MutableActionData& d) { d.setEmail("e"); d.setOption(2); }, false},
        ValidateCase{"Secrets9", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(9); d.setNodeHandle(1); }, false},
        ValidateCase{"Secrets5WithoutNode", MANAGE_SECRETS, [](MutableActionData& d) { d.setOption(5); d.setName("n"); d.setPassword("p"); }, false},
        ValidateCase{"ContactsAccountEmptyName", MANAGE_CONTACTS, [](MutableActionData& d) { d.setAccountHandle(1); d.setName(""); d.setNodeHandle(1); }, false},
        ValidateCase{"OutboxLinkWithoutName", MANAGE_OUTBOXES, [](MutableActionData& d) { d.setNodeHandle(1); d.setLink("l"); }, false},
        ValidateCase{"AccountValueNumber", SET_ACCOUNT_VALUE, [](MutableActionData& d) { d.setNumber(1); }, false},
        ValidateCase{"TransfersNegativeOption", GET_TRANSFERS, [](MutableActionData& d) { d.setOption(-1); }, false}),
    [](const ::testing::TestParamInfo<ValidateCase>& info) { return std::string(info.param.name); });

TEST(ActionDirectoryTest, InvalidTypesGiveNullAndLog) {
    test::LogCapture log;
    ActionProcessorDirectory directory;
    EXPECT_EQ(directory.createProcessor(106, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(directory.createProcessor(uint32_t(-1), nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(log.count("Trying to get an action processor of the invalid type"), 2u);
    EXPECT_STREQ(directory.getName(105), "MANAGE_MEETINGS");
    EXPECT_STREQ(directory.getName(106), "INVALID");
    EXPECT_TRUE(log.contains("Trying to get the name of an invalid action processor type: 106"));
    EXPECT_FALSE(log.contains("were not registered"));
}

TEST(ActionDirectoryTest, SecondRegistrationIsRefused) {
    class OtherItem : public ActionProcessorDirectoryItem {
    public:
        explicit OtherItem(int32_t type) : ActionProcessorDirectoryItem(type) {}
        ActionProcessor* create(ApiManager*, TaskManager*, ActionListener*) override { return nullptr; }
    };
    test::LogCapture log;
    ActionProcessorDirectory directory;
    directory.registerProcessor(new OtherItem(LOGIN));
    directory.registerProcessor(new OtherItem(106));
    EXPECT_TRUE(log.contains("Trying to register an action processor twice. Type: 8 Name: LOGIN"));
    EXPECT_TRUE(log.contains("Invalid action processor. Type: 106 Name: INVALID"));
    std::unique_ptr<ActionProcessor> login(directory.createProcessor(LOGIN, nullptr, nullptr, nullptr));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->getType(), LOGIN);
}

}  // namespace
}  // namespace corvane
// clang-format on
