// The entry that starts the program when the seller logs in to the desktop,
// switched by the `autostart` setting (the settings action turns it on or
// off when the setting is saved). On Linux it is the desktop entry
// ~/.config/autostart/vendara.desktop; on Windows the value "Vendara" under
// the user's Run key. The port::Autostart entry of the program's Env
// (base/Env.h) is the system's for the current user; tests put one on a
// folder of their own, or a fake, in an Env of theirs.
//
// Implementations must be callable from any thread.
#pragma once

#include <filesystem>
#include <memory>

namespace Quorvel::port {

class Autostart {
 public:
  virtual ~Autostart() = default;
  // Writes (on) or removes (off) the entry; removing a missing one is fine.
  // A failure raises Exception with the reason in Chinese (GBK).
  virtual void set(bool on) = 0;

  static std::shared_ptr<Autostart> makeProcessWide();
};

// The system's entry for the user whose home folder is `home` (Linux: the
// entry goes under home/.config/autostart/; Windows: the current user's Run
// key, `home` unused).
std::shared_ptr<Autostart> systemAutostart(const std::filesystem::path& home);

}  // namespace Quorvel::port
