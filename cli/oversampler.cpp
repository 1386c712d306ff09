#include "cli/oversampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "host/event_list.h"

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

// Under AddressSanitizer the claims are left out: its allocator reserves terabytes of address space
// (no address limit applies), reports a failed allocation itself, and holds every freed block in
// quarantine, where claims would only cost time and memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kClaimHeadroom = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kClaimHeadroom = false;
#else
constexpr bool kClaimHeadroom = true;
#endif
#else
constexpr bool kClaimHeadroom = true;
#endif

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

// One channel: its resamplers, its module and the text changes at the module's rate.
class ChannelPipeline {
public:
    ChannelPipeline(const ModuleLibrary& library, mphost::SharedMemoryPool& pool,
                    const RenderSettings& settings, int channel, double rate,
                    const std::vector<TextChange>& moduleChanges)
        : settings(settings), changes(moduleChanges),
          module(library, pool, settings.moduleId, kFirstInstanceHandle + channel, settings.blockSize),
          up(rate, rate * settings.oversample, settings.quality),
          down(rate * settings.oversample, rate, settings.quality) {}

    // Takes input samples; appends the output samples they make available.
    void push(const float* in, std::size_t count, std::vector<float>& out) {
        up.process(in, count, fast);
        shape(out, false);
    }

    void finish(std::vector<float>& out) {
        up.finish(fast);
        shape(out, true);
        down.finish(out);
    }

    int64_t blocks = 0;
    int64_t textEvents = 0;
    int32_t sleepRequests() const { return module.sleepRequests(); }

private:
    // Runs the module over the upsampled samples there are in whole blocks (at the end, also the last
    // partial one), so blocks are cut at multiples of the block size from the stream start however the
    // input comes in, and resamples its output down.
    void shape(std::vector<float>& out, bool last) {
        shaped.clear();
        std::size_t done = 0;
        const std::size_t block = static_cast<std::size_t>(settings.blockSize);
        while (fast.size() - done >= block || (last && done < fast.size())) {
            const int32_t count = static_cast<int32_t>(std::min(block, fast.size() - done));
            events.clear();
            if (position == 0) {
                events.start(0).pinValue(0, 0, settings.text).streaming(0, 1, true);
                ++textEvents;
            }
            while (nextChange < changes.size() && changes[nextChange].sample < position + count) {
                const int64_t at = std::max<int64_t>(changes[nextChange].sample - position, 0);
                events.pinValue(static_cast<int32_t>(at), 0, changes[nextChange].text);
                ++textEvents;
                ++nextChange;
            }
            std::copy(fast.begin() + static_cast<std::ptrdiff_t>(done),
                      fast.begin() + static_cast<std::ptrdiff_t>(done) + count, module.input());
            module.processBlock(count, events);
            shaped.insert(shaped.end(), module.output(), module.output() + count);
            done += static_cast<std::size_t>(count);
            position += count;
            ++blocks;
        }
        fast.erase(fast.begin(), fast.begin() + static_cast<std::ptrdiff_t>(done));
        down.process(shaped.data(), shaped.size(), out);
    }

    const RenderSettings& settings;
    const std::vector<TextChange>& changes;
    std::size_t nextChange = 0;
    int64_t position = 0; // module samples processed
    ProcessingModule module;
    Resampler up;
    Resampler down;
    mphost::EventList events;
    std::vector<float> fast;   // upsampled input not yet shaped (less than a block between pushes)
    std::vector<float> shaped; // module output not yet resampled down
};

} // namespace

RenderReport renderAtRate(const ModuleLibrary& library, const RenderSettings& settings,
                          const AudioBuffer& input, AudioBuffer& output) {
    if (settings.oversample == 1)
        return renderThroughModule(library, settings, input, output);
    return renderOversampled(library, settings, input, output);
}

struct OversampledStream::State {
    State(const RenderSettings& settings, int channels)
        : channels(channels), piece(static_cast<int64_t>(chunkFrames(channels, settings.oversample))),
          pending(channels) {
        changes = settings.changes;
        std::stable_sort(changes.begin(), changes.end(),
                         [](const TextChange& a, const TextChange& b) { return a.sample < b.sample; });
        for (TextChange& change : changes)
            change.sample *= settings.oversample;
    }

    // Appends the frames every channel has ready, interleaved, and keeps the rest.
    void interleaveReady(std::vector<float>& out) {
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

    int channels;
    int64_t piece;                   // frames handed to the channels at a time
    std::vector<TextChange> changes; // at the module's rate
    mphost::SharedMemoryPool pool;
    std::vector<std::unique_ptr<ChannelPipeline>> pipelines;
    std::vector<std::vector<float>> pending; // per channel, output not yet handed out
    std::vector<float> channelInput;
    int64_t framesIn = 0;
    int64_t framesOut = 0;
};

OversampledStream::OversampledStream(const ModuleLibrary& library, const RenderSettings& settings,
                                     int channels, double rate)
    : state(std::make_unique<State>(settings, channels)) {
    for (int c = 0; c < channels; ++c)
        state->pipelines.push_back(
            std::make_unique<ChannelPipeline>(library, state->pool, settings, c, rate, state->changes));
}

OversampledStream::~OversampledStream() = default;

void OversampledStream::push(const float* in, int64_t frames, std::vector<float>& out) {
    const int channels = state->channels;
    state->framesIn += frames;
    for (int64_t at = 0; at < frames; at += state->piece) {
        const int64_t count = std::min(state->piece, frames - at);
        state->channelInput.resize(static_cast<std::size_t>(count));
        for (int c = 0; c < channels; ++c) {
            for (int64_t n = 0; n < count; ++n)
                state->channelInput[static_cast<std::size_t>(n)] = in[(at + n) * channels + c];
            state->pipelines[static_cast<std::size_t>(c)]->push(state->channelInput.data(),
                                                                state->channelInput.size(),
                                                                state->pending[static_cast<std::size_t>(c)]);
        }
        state->interleaveReady(out);
    }
}

void OversampledStream::finish(std::vector<float>& out) {
    for (int c = 0; c < state->channels; ++c)
        state->pipelines[static_cast<std::size_t>(c)]->finish(state->pending[static_cast<std::size_t>(c)]);
    state->interleaveReady(out);
    for (const std::vector<float>& p : state->pending) {
        if (!p.empty() || state->framesOut != state->framesIn)
            throw std::runtime_error("the resampler gave " + std::to_string(state->framesOut + p.size()) +
                                     " samples for " + std::to_string(state->framesIn));
    }
}

RenderReport OversampledStream::report() const {
    RenderReport report;
    report.blocks = state->pipelines[0]->blocks;
    report.textEvents = state->pipelines[0]->textEvents;
    for (const auto& pipeline : state->pipelines)
        report.sleepRequests += pipeline->sleepRequests();
    return report;
}

RenderReport renderOversampled(const ModuleLibrary& library, const RenderSettings& settings,
                               const AudioBuffer& input, AudioBuffer& output) {
    const int channels = input.channels;
    const int64_t frames = input.frames();
    output.channels = channels;
    output.sampleRate = input.sampleRate;
    output.samples.clear();
    output.samples.reserve(input.samples.size());
    OversampledStream stream(library, settings, channels, input.sampleRate);
    const int64_t chunk = static_cast<int64_t>(chunkFrames(channels, settings.oversample));
    for (int64_t start = 0; start < frames; start += chunk) {
        const int64_t count = std::min<int64_t>(chunk, frames - start);
        stream.push(input.samples.data() + start * channels, count, output.samples);
        if (settings.progress)
            settings.progress(start + count, frames);
    }
    stream.finish(output.samples);
    return stream.report();
}

} // namespace shaperhost
