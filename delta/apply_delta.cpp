#include <memory>

#include "delta/zstd_calls.h"

namespace {

using delta_internal::Check;
using delta_internal::MapOrRaise;

struct FreeDCtx {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// The decoding and the look at its result, over mapped files that someone may cut short meanwhile.
struct TDecoding {
    ZSTD_DCtx* context;
    char* into;
    std::size_t size;
    const platform::MappedFile* delta;
    const TRebuiltBytes* seen;
    std::size_t made = 0;
};

void Decode(void* job) {
    auto& decoding = *static_cast<TDecoding*>(job);
    decoding.made = ZSTD_decompressDCtx(decoding.context, decoding.into, decoding.size, decoding.delta->Data(),
                                        decoding.delta->Size());
    if (!ZSTD_isError(decoding.made) && decoding.made == decoding.size && *decoding.seen)
        (*decoding.seen)(decoding.into, decoding.size);
}

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
    TDecoding decoding{context.get(), into, output.Size(), &delta, &seen};
    if (!platform::RunOverMappedFiles(Decode, &decoding))
        throw EDeltaError("a file was cut short while the difference was applied to \"" + baseFile + "\"");
    Check(decoding.made, "the difference cannot be applied to \"" + baseFile + "\"");
    if (decoding.made != output.Size()) throw EDeltaError("the difference made fewer bytes than its frame says");
}
