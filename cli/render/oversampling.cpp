#include "cli/render/oversampling.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

namespace shaperhost {

namespace {

// Frames taken per channel per step. Each channel holds a step's frames at the module's rate twice
// (before and after its module), so the step shrinks as channels x factor grows: the buffers of all
// channels together stay near kChunkSamples samples, within kMinChunkFrames..kChunkFrames frames.
constexpr std::size_t kChunkFrames = 8192;
constexpr std::size_t kMinChunkFrames = 256;
constexpr std::size_t kChunkSamples = std::size_t{1} << 20;

std::size_t chunkFrames(int channels, int factor) {
    const std::size_t perFrame = static_cast<std::size_t>(std::max(channels, 1) * std::max(factor, 1));
    return std::min(kChunkFrames, std::max(kMinChunkFrames, kChunkSamples / perFrame));
}

// Samples libsoxr makes per call at most: its buffers grow with the largest piece it is handed, so a
// long piece is handed over in parts of this size.
constexpr std::size_t kResamplerPiece = 4096;

// libsoxr does not check every allocation it makes while resampling: where memory runs short, it
// writes through a null pointer. Before each call, more than a call takes (its buffers grow by at most
// a few hundred KiB at a time, most while it starts and drains) is claimed and given back, so that the
// call finds it, or the shortage is reported as std::bad_alloc before the call.
constexpr std::size_t kResamplerHeadroom = std::size_t{4} << 20;
void* volatile claimedHeadroom = nullptr; // keeps the claim from being optimised away

// Left out of sanitizer builds (see cli/CMakeLists.txt).
constexpr bool kClaimHeadroom = SHAPERHOST_CLAIM_RESAMPLER_HEADROOM != 0;

void claimResamplerHeadroom() {
    if (!kClaimHeadroom)
        return;
    void* claim = std::malloc(kResamplerHeadroom);
    if (claim == nullptr)
        throw std::bad_alloc();
    claimedHeadroom = claim;
    std::free(claim);
    claimedHeadroom = nullptr;
}

} // namespace

bool isOversampleFactor(int factor) {
    return factor == 1 || factor == 2 || factor == 4 || factor == 8 || factor == 16;
}

struct Resampler::State {
    soxr_t soxr = nullptr;
};

Resampler::Resampler(double inputRate, double outputRate, ResamplerQuality quality)
    : state(std::make_unique<State>()), ratio(outputRate / inputRate) {
    const soxr_quality_spec_t q =
        soxr_quality_spec(quality == ResamplerQuality::VeryHigh ? SOXR_VHQ : SOXR_HQ, SOXR_LINEAR_PHASE);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_error_t error = nullptr;
    claimResamplerHeadroom();
    // Discrete Fourier transforms of at most 2^11 points: larger ones cost each instance (two per
    // channel) about a third more memory, for no speed we could measure at these ratios.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_large_dft_size = 11;
    state->soxr = soxr_create(inputRate, outputRate, 1, &error, &io, &q, &runtime);
    if (error != nullptr || state->soxr == nullptr)
        throw std::runtime_error(std::string("the resampler cannot start: ") +
                                 (error != nullptr ? error : "no reason given"));
}

Resampler::~Resampler() {
    if (state->soxr != nullptr)
        soxr_delete(state->soxr);
}

void Resampler::process(const float* in, std::size_t count, std::vector<float>& out) {
    // The resampler reads a null input as the end of the stream, and an empty vector's data() may be
    // null: nothing to give is simply nothing to do.
    if (count == 0)
        return;
    if (state->soxr == nullptr)
        throw std::logic_error("the resampler was given samples after its end");
    // Handed over in parts that make at most about kResamplerPiece samples each, with room for a part's
    // share plus what the filter may still hold back from earlier parts.
    const std::size_t part = std::max<std::size_t>(
        1, static_cast<std::size_t>(static_cast<double>(kResamplerPiece) / std::max(ratio, 1.0)));
    const std::size_t room = static_cast<std::size_t>(std::ceil(static_cast<double>(part) * ratio)) + 64;
    std::size_t taken = 0;
    while (true) {
        const std::size_t start = out.size();
        out.resize(start + room);
        std::size_t used = 0;
        std::size_t made = 0;
        claimResamplerHeadroom();
        const soxr_error_t error = soxr_process(state->soxr, in + taken, std::min(part, count - taken), &used,
                                                out.data() + start, room, &made);
        out.resize(start + made);
        if (error != nullptr)
            throw std::runtime_error(std::string("the resampler failed: ") + error);
        taken += used;
        if (taken >= count && made < room)
            return;
    }
}

void Resampler::finish(std::vector<float>& out) {
    if (state->soxr == nullptr)
        return;
    constexpr std::size_t kRoom = 4096;
    std::size_t made = 0;
    do {
        const std::size_t start = out.size();
        out.resize(start + kRoom);
        claimResamplerHeadroom();
        const soxr_error_t error =
            soxr_process(state->soxr, nullptr, 0, nullptr, out.data() + start, kRoom, &made);
        out.resize(start + made);
        if (error != nullptr)
            throw std::runtime_error(std::string("the resampler failed: ") + error);
    } while (made > 0);
    // Draining makes libsoxr's buffers grow; the resampler is done, so they go now rather than with the
    // stream, which drains its channels one after another.
    soxr_delete(state->soxr);
    state->soxr = nullptr;
}

namespace {

// The text changes at the module's rate.
std::vector<TextChange> atModuleRate(const RenderSettings& settings) {
    std::vector<TextChange> changes = settings.changes;
    for (TextChange& change : changes)
        change.sample *= settings.oversample;
    return changes;
}

} // namespace

OversampledStream::OversampledStream(const ModuleLibrary& library, const RenderSettings& settings,
                                     int channelCount, int rate)
    : channels(channelCount), piece(static_cast<int64_t>(chunkFrames(channelCount, settings.oversample))),
      scheduler(library, settings, channelCount, atModuleRate(settings)),
      fast(static_cast<std::size_t>(channelCount)), shaped(static_cast<std::size_t>(channelCount)),
      pending(static_cast<std::size_t>(channelCount)) {
    const double fastRate = static_cast<double>(rate) * settings.oversample;
    for (int c = 0; c < channels; ++c) {
        up.push_back(std::make_unique<Resampler>(rate, fastRate, settings.quality));
        down.push_back(std::make_unique<Resampler>(fastRate, rate, settings.quality));
    }
}

void OversampledStream::push(const float* in, int64_t frames, std::vector<float>& out) {
    // In steps of at most `piece` frames per channel, so the upsampled samples waiting for the modules
    // stay few whatever the piece, the factor and the number of channels.
    for (int64_t first = 0; first < frames; first += piece) {
        const int64_t count = std::min(piece, frames - first);
        framesIn += count;
        channelInput.resize(static_cast<std::size_t>(count));
        for (int c = 0; c < channels; ++c) {
            for (int64_t n = 0; n < count; ++n)
                channelInput[static_cast<std::size_t>(n)] = in[(first + n) * channels + c];
            up[static_cast<std::size_t>(c)]->process(channelInput.data(), channelInput.size(),
                                                     fast[static_cast<std::size_t>(c)]);
        }
        shape(false);
        interleaveReady(out);
    }
}

void OversampledStream::finish(std::vector<float>& out) {
    for (int c = 0; c < channels; ++c)
        up[static_cast<std::size_t>(c)]->finish(fast[static_cast<std::size_t>(c)]);
    shape(true);
    for (int c = 0; c < channels; ++c)
        down[static_cast<std::size_t>(c)]->finish(pending[static_cast<std::size_t>(c)]);
    interleaveReady(out);
    for (const std::vector<float>& p : pending) {
        if (!p.empty() || framesOut != framesIn)
            throw std::runtime_error("the resampler gave " + std::to_string(framesOut + p.size()) +
                                     " samples for " + std::to_string(framesIn));
    }
}

void OversampledStream::shape(bool last) {
    // Every channel's resampler gets the same number of samples, so each has as many ready.
    std::size_t available = fast[0].size();
    for (const std::vector<float>& f : fast) {
        if (f.size() != available)
            throw std::runtime_error("the resamplers gave the channels different lengths");
    }
    for (std::vector<float>& s : shaped)
        s.clear();
    const int64_t used = scheduler.run(
        static_cast<int64_t>(available), !last,
        [this](int c, int64_t frame, int32_t count, float* moduleIn) {
            const float* from = fast[static_cast<std::size_t>(c)].data() + frame;
            std::copy(from, from + count, moduleIn);
        },
        [this](int c, int64_t, int32_t count, const float* moduleOut) {
            std::vector<float>& s = shaped[static_cast<std::size_t>(c)];
            s.insert(s.end(), moduleOut, moduleOut + count);
        });
    for (int c = 0; c < channels; ++c) {
        std::vector<float>& f = fast[static_cast<std::size_t>(c)];
        f.erase(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(used));
        const std::vector<float>& s = shaped[static_cast<std::size_t>(c)];
        down[static_cast<std::size_t>(c)]->process(s.data(), s.size(), pending[static_cast<std::size_t>(c)]);
    }
}

void OversampledStream::interleaveReady(std::vector<float>& out) {
    std::size_t ready = pending[0].size();
    for (const std::vector<float>& p : pending)
        ready = std::min(ready, p.size());
    framesOut += static_cast<int64_t>(ready);
    if (framesOut > framesIn)
        throw std::runtime_error("the resampler gave more samples than it was given");
    const std::size_t start = out.size();
    out.resize(start + ready * static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        std::vector<float>& p = pending[static_cast<std::size_t>(c)];
        for (std::size_t n = 0; n < ready; ++n)
            out[start + n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = p[n];
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(ready));
    }
}

RenderReport OversampledStream::report() const {
    return scheduler.report();
}

} // namespace shaperhost
