// BlackList: the buyer names for which delivery is refused, read from the
// multi-line setting `black_list` each time a BlackList is made. One name per
// line (CR, LF or both, blank lines allowed); spaces around a name are not
// part of it. Made and used by one thread for one check.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Quorvel {

class BlackList : public std::enable_shared_from_this<BlackList> {
 public:
  // Reads the setting `black_list` through SystemConfig.
  BlackList();
  // The list written as `text` (the setting's format).
  explicit BlackList(const std::string& text);
  virtual ~BlackList();

  // True when some name equals `name` byte for byte (case counts).
  bool contains(const std::string& name) const;

  // The names, spaces trimmed, in the order written.
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
};

}  // namespace Quorvel
