// A fast hash of a file's bytes, to tell a page saved again from the state a
// run read where its time stamp cannot.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace lapse::platform {

class ContentHash {
 public:
  ContentHash();
  ~ContentHash();
  ContentHash(const ContentHash&) = delete;
  ContentHash& operator=(const ContentHash&) = delete;

  void Add(std::string_view bytes);
  std::uint64_t Value() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace lapse::platform
