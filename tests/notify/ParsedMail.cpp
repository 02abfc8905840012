#include "tests/notify/ParsedMail.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace Quorvel::test {

namespace {

// Prints one field per line as JSON strings, so that line breaks in the body
// survive; reads the mail from the file named by its first argument.
const char kScript[] = R"PY(
import email, email.policy, email.utils, json, sys
raw = open(sys.argv[1], 'rb').read()
msg = email.message_from_bytes(raw, policy=email.policy.default)
out = {}
out['subject'] = str(msg['Subject'] or '')
sender = msg['From']
out['fromName'] = sender.addresses[0].display_name if sender and sender.addresses else ''
out['fromAddress'] = sender.addresses[0].addr_spec if sender and sender.addresses else ''
out['date'] = str(msg['Date'] or '')
out['messageId'] = str(msg['Message-ID'] or '')
out['contentType'] = msg.get_content_type()
out['charset'] = (msg.get_content_charset() or '').lower()
missing = [h for h in ('MIME-Version', 'Date', 'Message-ID', 'Subject', 'From') if msg[h] is None]
out['error'] = ' '.join(missing)
out['body'] = msg.get_content().replace('\r\n', '\n')
out['dateYear'] = email.utils.parsedate_to_datetime(out['date']).year if out['date'] else 0
print(json.dumps(out))
)PY";

// The value of "key": "..." in one line of JSON that Python wrote, with its
// escapes undone (\uXXXX as UTF-8, surrogate pairs included).
std::string jsonString(const std::string& json, const std::string& key) {
  const std::string start = "\"" + key + "\": \"";
  size_t at = json.find(start);
  if (at == std::string::npos) return {};
  at += start.size();
  std::string out;
  auto put = [&](unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 63));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 63));
      out += static_cast<char>(0x80 | (code & 63));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 63));
      out += static_cast<char>(0x80 | (code >> 6 & 63));
      out += static_cast<char>(0x80 | (code & 63));
    }
  };
  while (at < json.size() && json[at] != '"') {
    char c = json[at++];
    if (c != '\\') {
      out += c;
      continue;
    }
    char e = json[at++];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned code = std::stoul(json.substr(at, 4), nullptr, 16);
        at += 4;
        if (code >= 0xD800 && code < 0xDC00 && json.compare(at, 2, "\\u") == 0) {
          unsigned low = std::stoul(json.substr(at + 2, 4), nullptr, 16);
          at += 6;
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        put(code);
        break;
      }
      default: out += e;
    }
  }
  return out;
}

}  // namespace

ParsedMail parseWithPython(const std::string& dialogue) {
  ParsedMail parsed;
  const size_t data = dialogue.find("DATA\r\n");
  if (data == std::string::npos) {
    parsed.error = "no DATA in the dialogue";
    return parsed;
  }
  const size_t start = data + 6;
  const size_t end = dialogue.find("\r\n.\r\n", start);
  if (end == std::string::npos) {
    parsed.error = "no closing dot line";
    return parsed;
  }
  std::string message;
  std::istringstream lines(dialogue.substr(start, end + 2 - start));
  for (std::string line; std::getline(lines, line);) message += (line.rfind("..", 0) == 0 ? line.substr(1) : line) + "\n";

  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("parsed-mail-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path mail = dir / "mail.eml";
  const fs::path script = dir / "parse.py";
  std::ofstream(mail, std::ios::binary) << message;
  std::ofstream(script, std::ios::binary) << kScript;
  const std::string command = "python3 '" + script.string() + "' '" + mail.string() + "' 2>&1";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    ::pclose(pipe);
  }
  fs::remove_all(dir);
  if (output.find("\"body\"") == std::string::npos) {
    parsed.error = "python3 said: " + output;
    return parsed;
  }
  parsed.ok = true;
  parsed.subject = jsonString(output, "subject");
  parsed.fromName = jsonString(output, "fromName");
  parsed.fromAddress = jsonString(output, "fromAddress");
  parsed.date = jsonString(output, "date");
  parsed.messageId = jsonString(output, "messageId");
  parsed.contentType = jsonString(output, "contentType");
  parsed.charset = jsonString(output, "charset");
  parsed.error = jsonString(output, "error");
  parsed.body = jsonString(output, "body");
  const size_t year = output.find("\"dateYear\": ");
  if (year != std::string::npos) parsed.dateYear = std::atoi(output.c_str() + year + 12);
  return parsed;
}

}  // namespace Quorvel::test
