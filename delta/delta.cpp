#include "delta/delta.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/mapped_file.h"

namespace {

struct FreeCCtx {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct FreeDCtx {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

platform::MappedFile MapOrRaise(const std::string& path) {
    platform::MappedFile file;
    std::string why;
    if (!file.MapForReading(path, why)) throw EDeltaError(why);
    return file;
}

void Check(size_t result, const std::string& doing) {
    if (ZSTD_isError(result)) throw EDeltaError(doing + ": " + ZSTD_getErrorName(result));
}

// The window reaches from the end of the new version back to the start of the base, as the decoder needs it.
int WindowLogFor(std::size_t baseSize, std::size_t newSize) {
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (std::size_t{1} << log) < std::max(baseSize, newSize)) ++log;
    return std::min(log + 1, bounds.upperBound);
}

// Room for an entry every 16 bytes of the larger version, within what a publishing machine can spare.
int LdmHashLogFor(std::size_t baseSize, std::size_t newSize) {
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_ldmHashLog);
    int log = 20;
    while (log < 26 && (std::size_t{1} << (log + 2)) < std::max(baseSize, newSize)) ++log;
    return std::clamp(log, bounds.lowerBound, bounds.upperBound);
}

void SetUpCompression(ZSTD_CCtx* context, int level, const platform::MappedFile& base,
                      const platform::MappedFile& fresh) {
    const std::string doing = "Cannot set up the difference";
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level), doing);
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, WindowLogFor(base.Size(), fresh.Size())), doing);
    // Changed records are scattered through files of many megabytes: only long-distance matching finds the
    // unchanged runs between them in the base. Its defaults look every 128 bytes and for runs of 64; records of
    // a database are often smaller, and looking every 16 bytes for runs of 32 made differences 7% smaller at the
    // same level (64-byte records), for a table of at most 512 MB while publishing.
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1), doing);
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_ldmHashRateLog, 4), doing);
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_ldmMinMatch, 32), doing);
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_ldmHashLog, LdmHashLogFor(base.Size(), fresh.Size())), doing);
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1), doing);
    Check(ZSTD_CCtx_setPledgedSrcSize(context, fresh.Size()), doing);
    Check(ZSTD_CCtx_refPrefix(context, base.Data(), base.Size()), doing);
}

}  // namespace

void MakeDelta(const std::string& baseFile, const std::string& newFile, const std::string& deltaFile, int level) {
    const platform::MappedFile base = MapOrRaise(baseFile);
    const platform::MappedFile fresh = MapOrRaise(newFile);
    const std::unique_ptr<ZSTD_CCtx, FreeCCtx> context(ZSTD_createCCtx());
    if (!context) throw EDeltaError("Cannot set up the difference: out of memory");
    SetUpCompression(context.get(), level, base, fresh);
    platform::File out;
    if (!out.Create(deltaFile)) throw EDeltaError("Cannot create file \"" + deltaFile + "\".");
    std::vector<char> buffer(ZSTD_CStreamOutSize());
    ZSTD_inBuffer input{fresh.Data(), fresh.Size(), 0};
    for (size_t left = 1; left != 0;) {
        ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
        left = ZSTD_compressStream2(context.get(), &output, &input, ZSTD_e_end);
        Check(left, "Cannot make the difference of \"" + newFile + "\"");
        if (!out.Write(buffer.data(), output.pos)) throw EDeltaError("Cannot write file \"" + deltaFile + "\".");
    }
}

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
