#include <memory>

#include "delta/zstd_calls.h"

namespace {

using delta_internal::Check;
using delta_internal::MapOrRaise;

struct FreeDCtx {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

}  // namespace

void ApplyDelta(const std::string& baseFile, const std::string& deltaFile, const std::string& outputFile,
                std::int64_t expectedSize, const TRebuiltBytes& seen) {
    const platform::MappedFile delta = MapOrRaise(deltaFile);
    const unsigned long long contentSize = ZSTD_getFrameContentSize(delta.Data(), delta.Size());
    if (contentSize == ZSTD_CONTENTSIZE_ERROR || contentSize == ZSTD_CONTENTSIZE_UNKNOWN)
        throw EDeltaError("the difference is damaged: it does not start with a frame of known size");
    if (expectedSize < 0 || contentSize != static_cast<unsigned long long>(expectedSize))
        throw EDeltaError("the difference makes " + std::to_string(contentSize) + " bytes, not the " +
                          std::to_string(expectedSize) + " expected");
    const platform::MappedFile base = MapOrRaise(baseFile);
    platform::MappedFile output;
    std::string why;
    if (!output.CreateForWriting(outputFile, contentSize, why)) throw EDeltaError(why);
    const std::unique_ptr<ZSTD_DCtx, FreeDCtx> context(ZSTD_createDCtx());
    if (!context) throw EDeltaError("Cannot apply the difference: out of memory");
    // The whole result is one mapped buffer, so the decoder needs no window of its own: its memory stays small
    // whatever the file's size. The largest window this build can address is allowed.
    Check(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                 ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound),
          "Cannot apply the difference");
    Check(ZSTD_DCtx_refPrefix(context.get(), base.Data(), base.Size()), "Cannot apply the difference");
    // An empty result maps no memory, but the decoder still does arithmetic on its output pointer, which must not
    // be null for that.
    char none = 0;
    char* const into = output.Size() != 0 ? output.WritableData() : &none;
    const size_t made = ZSTD_decompressDCtx(context.get(), into, output.Size(), delta.Data(), delta.Size());
    Check(made, "the difference cannot be applied to \"" + baseFile + "\"");
    if (made != output.Size()) throw EDeltaError("the difference made fewer bytes than its frame says");
    if (seen) seen(output.Data(), output.Size());
}
