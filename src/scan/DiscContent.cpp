#include "scan/DiscContent.h"

#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h> // XXH3 with the vector instructions the processor has (AVX2, AVX-512)
#endif

#include <algorithm>
#include <memory>

namespace {

// One read: large enough that a disc, or an image on a disk, streams at its own speed.
constexpr std::size_t kReadBytes = 1 << 20;

struct StateFree
{
    void operator()(XXH3_state_t *state) const { XXH3_freeState(state); }
};

} // namespace

std::uint64_t ContentBytes(const std::vector<DiscFile> &files)
{
    std::uint64_t total = 0;
    for (const DiscFile &file : files)
        total += file.size;
    return total;
}

bool ReadContent(DiscTree &tree, std::vector<DiscFile> &files, ContentObserver &observer,
                 const std::function<void(const DiscFile &, const ContentResult &)> &done)
{
    std::stable_sort(files.begin(), files.end(),
                     [](const DiscFile &a, const DiscFile &b) { return a.order < b.order; });
    const auto buffer = std::make_unique<char[]>(kReadBytes);
    const std::unique_ptr<XXH3_state_t, StateFree> state(XXH3_createState());
    for (const DiscFile &file : files) {
        ContentResult result;
        XXH3_128bits_reset(state.get());
        result.error =
            tree.readFile(file, buffer.get(), kReadBytes, [&](const char *bytes, std::size_t count) {
                XXH3_128bits_update(state.get(), bytes, count);
                result.bytes += count;
                observer.contentRead(count);
                return true;
            });
        if (result.error == 0) {
            XXH128_canonical_t canonical;
            XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state.get()));
            std::copy(std::begin(canonical.digest), std::end(canonical.digest),
                      result.fingerprint.bytes.begin());
        } else if (tree.isGone(result.error) && !tree.rootReadable()) {
            return false;
        }
        done(file, result);
    }
    return true;
}
