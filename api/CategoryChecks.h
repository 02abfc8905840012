// The checks a category's JSON fields pass before the web UI may store them
// or preview them, so that a template or switch the delivery cannot read is
// refused when the seller types it, not when a buyer has paid:
//   tpl  a JSON object whose "cardTpl", "goodsTpl" and "mailSubject" the
//        delivery can read as text (templatesOf), the subject of at most
//        kMaxMailSubjectBytes bytes;
//   ext  a JSON object (the channel switches are then read whatever their
//        kind) whose "limit_number" the purchase limit can read as an int,
//        0 (no limit) or more.
//   name must be given, of at most kMaxCategoryNameBytes bytes.
// Empty text stands for "none" and passes (the delivery reads it as no
// templates and no switches). Both are read as the delivery reads them: GBK
// converted to UTF-8 first, since a GBK character's second byte may be a
// quote or a backslash.
//
// Plain functions; any thread.
#pragma once

#include <cstddef>
#include <string>

#include "store/Category.h"

namespace Quorvel {

// Raise Exception with a message for the seller (GBK) naming the field.
// The name must hold a visible character (not empty, not only spaces, full
// width ones included), no control character (NUL, line breaks, tabs), and
// at most kMaxCategoryNameBytes bytes.
inline constexpr std::size_t kMaxCategoryNameBytes = 200;
// The buyer mail's subject ("mailSubject" of tpl), before the order number
// is put in.
inline constexpr std::size_t kMaxMailSubjectBytes = 400;
void checkName(const CategoryRecord& category);
void checkTemplates(const CategoryRecord& category);
void checkSwitches(const CategoryRecord& category);

}  // namespace Quorvel
