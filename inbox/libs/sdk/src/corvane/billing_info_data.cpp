#include "corvane/billing_info_data.h"

namespace corvane {

BalanceInfoData::~BalanceInfoData() = default;
BalancesInfoData::~BalancesInfoData() = default;
CouponInfoData::~CouponInfoData() = default;
PaymentInfoData::~PaymentInfoData() = default;
SubscriptionInfoData::~SubscriptionInfoData() = default;
PaymentMethodInfoData::~PaymentMethodInfoData() = default;
InvoiceInfoData::~InvoiceInfoData() = default;
InvoicingInfoData::~InvoicingInfoData() = default;

std::shared_ptr<BalanceInfoList> BalancesInfoData::getBalances() const {
    return balances_ ? balances_ : std::make_shared<BalanceInfoList>();
}

std::shared_ptr<InvoiceInfoList> InvoicingInfoData::getInvoices() const {
    return invoices_ ? invoices_ : std::make_shared<InvoiceInfoList>();
}

}  // namespace corvane
