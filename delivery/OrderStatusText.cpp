#include "delivery/OrderStatusText.h"

#include "base/Charset.h"
#include "delivery/OrderException.h"
#include "store/OrderStatus.h"

namespace Quorvel {

std::string orderStatusText(int status) {
  switch (status) {
    case kOrderFound:
      return gbk("新订单（等待读取订单详情）");
    case kOrderDetailsRead:
      return gbk("等待发货");
    case kOrderDelivering:
      return gbk("发货中（卡密已预留，等待淘宝确认发货）");
    case kOrderDelivered:
      return gbk("已发货");
    default:
      break;
  }
  if (!isOrderFailed(status)) return gbk("未知状态 ") + std::to_string(status);
  const int code = status - kOrderFailed;
  const char* reason = nullptr;
  switch (code) {
    case 0:
      reason = "发货出错（模板、设置或数据库错误，详见订单日志）";
      break;
    case kOutOfStock:
      reason = "库存不足";
      break;
    case kNotConsignable:
      reason = "淘宝上该订单当前不可发货";
      break;
    case kNoConsignForm:
      reason = "未找到淘宝的发货表单";
      break;
    case kConsignRefused:
      reason = "淘宝没有确认发货";
      break;
    case kWrongOrderState:
      reason = "订单不是买家已付款、等待发货的状态";
      break;
    case kPurchaseLimit:
      reason = "超过单件购买限制";
      break;
    case kBlacklisted:
      reason = "买家在黑名单中";
      break;
    case kFormWithoutInputs:
      reason = "淘宝的发货表单无法识别";
      break;
    case kNotBound:
      return gbk("未绑定，未发货（宝贝没有绑定到启用的分类，淘宝上仍待发货）");
    default:
      return gbk("发货失败：原因代码 ") + std::to_string(code);
  }
  return gbk("发货失败：") + gbk(reason) + gbk("（代码 ") + std::to_string(code) + gbk("）");
}

}  // namespace Quorvel
