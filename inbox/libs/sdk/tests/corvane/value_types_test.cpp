#include <gtest/gtest.h>

#include <vector>

#include "corvane/account_info_data.h"
#include "corvane/billing_info_data.h"
#include "corvane/corvane_settings.h"
#include "corvane/session_info_data.h"

namespace corvane {
namespace {

class TestAccount : public AccountInfoData {
public:
    void setCredit(int32_t credit) { credit_ = credit; }
    void setPaymentMethod(int32_t method) { paymentMethod_ = method; }
};

TEST(ValueTypesTest, AccountFlagsAreAnyNonZeroValue) {
    TestAccount account;
    EXPECT_FALSE(account.hasCredit());
    EXPECT_FALSE(account.hasPaymentMethod());
    for (int32_t value : {1, -1, 2}) {
        account.setCredit(value);
        account.setPaymentMethod(value);
        EXPECT_TRUE(account.hasCredit()) << value;
        EXPECT_TRUE(account.hasPaymentMethod()) << value;
    }
    EXPECT_EQ(account.getPlan(), "");
    EXPECT_EQ(account.getStorageTotal(), 0);
}

TEST(ValueTypesTest, UnsetBillingListsAreEmpty) {
    BalancesInfoData balances;
    EXPECT_TRUE(balances.getBalances()->empty());
    InvoicingInfoData invoicing;
    EXPECT_TRUE(invoicing.getInvoices()->empty());
    EXPECT_EQ(invoicing.getSubscription(), nullptr);
    SessionInfoData session;
    EXPECT_FALSE(session.isActive());
}

TEST(ValueTypesTest, SettingsKeepCopies) {
    CorvaneSettings settings;
    EXPECT_EQ(settings.getDataPath(), "");
    std::string path = "/home/u/.local/share/tembra";
    settings.setDataPath(path);
    settings.setUserAgent("Tembra/1.0");
    path.clear();
    EXPECT_EQ(settings.getDataPath(), "/home/u/.local/share/tembra");
    EXPECT_EQ(settings.getUserAgent(), "Tembra/1.0");
}

}  // namespace
}  // namespace corvane
