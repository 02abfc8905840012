// The way every seller form is filled in (consignment, seller memo, buyer
// rating): the form is cut out of its page with a pattern, every input that
// has both a name and a value attribute is taken whatever its type (a later
// input of the same name wins), a few fields are overridden, and the map is
// posted back. Also the plain text of an answer page, for the order log.
//
// Plain functions without state: any thread may call them.
#pragma once

#include <cstddef>
#include <string>

#include "market/HttpClient.h"

namespace Quorvel {

// Adds to `fields` every input of `formBody` that has a name and a value.
// Returns false when the body holds no input at all (named or not).
bool readFormInputs(const std::string& formBody, FormFields& fields);

// The page's text from the first place `marker` (GBK) starts, tags left out
// and every run of white space made one space, cut to at most `maxBytes`
// bytes between two characters; empty when the page does not hold the
// marker.
std::string pageTextFrom(const std::string& page, const std::string& marker, size_t maxBytes = 200);

}  // namespace Quorvel
