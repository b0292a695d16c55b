#include <algorithm>
#include <memory>
#include <vector>

#include "delta/zstd_calls.h"
#include "platform/files.h"

namespace {

using delta_internal::Check;
using delta_internal::MapOrRaise;

struct FreeCCtx {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

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

