#include "platform/content_hash.h"

// Header only: the same code on every platform, with nothing to link.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace lapse::platform {

struct ContentHash::State {
  XXH3_state_t xxh3;
};

ContentHash::ContentHash() : state_(std::make_unique<State>()) {
  XXH3_64bits_reset(&state_->xxh3);
}

ContentHash::~ContentHash() = default;

void ContentHash::Add(std::string_view bytes) {
  XXH3_64bits_update(&state_->xxh3, bytes.data(), bytes.size());
}

std::uint64_t ContentHash::Value() const {
  return XXH3_64bits_digest(&state_->xxh3);
}

}  // namespace lapse::platform
