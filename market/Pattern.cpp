#define PCRE2_CODE_UNIT_WIDTH 8
#include "market/Pattern.h"

#include <pcre2.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "base/Exception.h"
#include "base/Mutex.h"
#include "base/ProcessWide.h"

namespace Quorvel {

namespace {

constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 4 * 1024 * 1024;
constexpr size_t kCacheMax = 512;

std::string engineMessage(int code) {
  PCRE2_UCHAR buffer[256];
  int length = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (length < 0) return "unknown regular expression error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
}

// The match context, JIT stack and match data of one thread, made on its first
// search and freed when the thread ends. Owned by that thread alone.
class ThreadMatchState {
 public:
  ThreadMatchState() {
    context_ = pcre2_match_context_create(nullptr);
    if (!context_) throw Exception("regular expression engine out of memory", 0);
    jitStack_ = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
    if (jitStack_) pcre2_jit_stack_assign(context_, nullptr, jitStack_);
  }
  ~ThreadMatchState() {
    if (data_) pcre2_match_data_free(data_);
    if (jitStack_) pcre2_jit_stack_free(jitStack_);
    pcre2_match_context_free(context_);
  }
  ThreadMatchState(const ThreadMatchState&) = delete;
  ThreadMatchState& operator=(const ThreadMatchState&) = delete;

  pcre2_match_context* context() {
    pcre2_set_match_limit(context_, processWide<PatternLimits>()->matchLimit);
    return context_;
  }

  // Match data with room for at least `pairs` offset pairs.
  pcre2_match_data* data(size_t pairs) {
    if (!data_ || pairs_ < pairs) {
      if (data_) pcre2_match_data_free(data_);
      pairs_ = std::max<size_t>(pairs, 32);
      data_ = pcre2_match_data_create(static_cast<uint32_t>(pairs_), nullptr);
      if (!data_) throw Exception("regular expression engine out of memory", 0);
    }
    return data_;
  }

 private:
  pcre2_match_context* context_ = nullptr;
  pcre2_jit_stack* jitStack_ = nullptr;
  pcre2_match_data* data_ = nullptr;
  size_t pairs_ = 0;
};

ThreadMatchState& threadState() {
  thread_local ThreadMatchState state;
  return state;
}

}  // namespace

struct Pattern::Code {
  pcre2_code* compiled = nullptr;
  ~Code() { pcre2_code_free(compiled); }
};

Pattern::Pattern(const std::string& pattern) : code_(std::make_unique<Code>()) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  code_->compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_DOTALL,
                                  &error, &offset, nullptr);
  if (!code_->compiled) {
    throw Exception("regular expression error: " + engineMessage(error) + " at offset " + std::to_string(offset),
                    error);
  }
  // Without JIT support the interpreter runs the same pattern, only slower.
  pcre2_jit_compile(code_->compiled, PCRE2_JIT_COMPLETE);
  uint32_t count = 0;
  pcre2_pattern_info(code_->compiled, PCRE2_INFO_CAPTURECOUNT, &count);
  groups_ = count;
}

Pattern::~Pattern() = default;

namespace {

// The compiled patterns of the process (processWide).
struct PatternCache {
  SharedMutex mutex;
  std::unordered_map<std::string, std::shared_ptr<const Pattern>> patterns GUARDED_BY(mutex);  // guarded by mutex
};

}  // namespace

std::shared_ptr<const Pattern> Pattern::cached(const std::string& pattern) {
  std::shared_ptr<PatternCache> cache = processWide<PatternCache>();
  {
    ReaderLock lock(cache->mutex);
    auto it = cache->patterns.find(pattern);
    if (it != cache->patterns.end()) return it->second;
  }
  auto compiled = std::make_shared<const Pattern>(pattern);
  WriterLock lock(cache->mutex);
  if (cache->patterns.size() >= kCacheMax) cache->patterns.clear();
  return cache->patterns.emplace(pattern, compiled).first->second;
}

bool Pattern::find(std::string_view subject, size_t start, bool nonEmptyHere, MatchSpans& spans) const {
  ThreadMatchState& state = threadState();
  pcre2_match_data* data = state.data(groups_ + 1);
  uint32_t options = nonEmptyHere ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0;
  int rc = pcre2_match(code_->compiled, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start,
                       options, data, state.context());
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) throw Exception("regular expression error: " + engineMessage(rc), rc);

  const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data);
  spans.assign(groups_ + 1, {std::string_view::npos, std::string_view::npos});
  // rc counts the pairs up to the highest group that was set; later ones stay unset.
  for (size_t i = 0; i < static_cast<size_t>(rc) && i <= groups_; ++i) {
    if (offsets[2 * i] != PCRE2_UNSET) spans[i] = {offsets[2 * i], offsets[2 * i + 1]};
  }
  return true;
}

}  // namespace Quorvel
