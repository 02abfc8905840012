#include "delivery/MarketSteps.h"

#include "base/Charset.h"
#include "delivery/OrderException.h"
#include "market/SellerMemo.h"

namespace Quorvel {

OrderException consignFailure(ConsignRefusal refusal) {
  switch (refusal) {
    case ConsignRefusal::kNotConsignable:
      return OrderException(gbk("当前订单不可进行发货处理"), kNotConsignable);
    case ConsignRefusal::kNoForm:
      return OrderException(gbk("未找到发货表单"), kNoConsignForm);
    case ConsignRefusal::kFormWithoutInputs:
      return OrderException(gbk("发货匹配规则1失败"), kFormWithoutInputs);
    case ConsignRefusal::kNotConfirmed:
    case ConsignRefusal::kNone:
      break;
  }
  return OrderException(gbk("发货失败！"), kConsignRefused);
}

void consignForDelivery(const Env& env, const std::string& orderId, const std::string& text,
                        ConsignOutcome& outcome) {
  outcome = ConsignOutcome();
  outcome = consignOrder(env, orderId, text);
  if (!outcome.confirmed()) throw consignFailure(outcome.refusal);
}

int writeSellerMemo(const Env& env, const OrderInfo& order) {
  const MemoOutcome outcome = updateSellerMemo(env, order);
  switch (outcome.refusal) {
    case MemoRefusal::kNone:
      return outcome.status;
    case MemoRefusal::kNoForm:
      // The code is the C runtime's error number, as the memo step has always
      // reported it.
      throw OrderException(gbk("查询表单失败"));
    case MemoRefusal::kFormWithoutInputs:
      throw OrderException(gbk("发货匹配规则1失败"), kFormWithoutInputs);
    case MemoRefusal::kUnanswered:
      break;
  }
  throw OrderException(gbk("卖家备注提交失败：") + outcome.reason, kConsignRefused);
}

}  // namespace Quorvel
