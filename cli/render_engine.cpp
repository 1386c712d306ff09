#include "cli/render_engine.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/event_list.h"

namespace shaperhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

} // namespace

StreamRenderer::StreamRenderer(const ModuleLibrary& library, const RenderSettings& renderSettings,
                               int channelCount)
    : settings(renderSettings), channels(channelCount), changes(renderSettings.changes) {
    for (int c = 0; c < channels; ++c)
        modules.push_back(std::make_unique<ProcessingModule>(library, pool, settings.moduleId,
                                                             kFirstInstanceHandle + c, settings.blockSize));
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TextChange& a, const TextChange& b) { return a.sample < b.sample; });
}

StreamRenderer::~StreamRenderer() = default;

void StreamRenderer::process(const float* in, float* out, int64_t frames) {
    mphost::EventList events;
    int64_t done = 0;
    while (done < frames || !started) {
        // Blocks end at multiples of the block size from the stream start, as one long run cuts them.
        const int64_t untilBoundary = settings.blockSize - position % settings.blockSize;
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(untilBoundary, frames - done));
        events.clear();
        if (!started) {
            events.start(0).pinValue(0, 0, settings.text).streaming(0, 1, true);
            ++counts.textEvents;
            started = true;
        }
        // Changes before the stream start go in with the first block; the rest at their sample.
        while (nextChange < changes.size() && changes[nextChange].sample < position + count) {
            const int64_t at = std::max<int64_t>(changes[nextChange].sample - position, 0);
            events.pinValue(static_cast<int32_t>(at), 0, changes[nextChange].text);
            ++counts.textEvents;
            ++nextChange;
        }
        for (int c = 0; c < channels; ++c) {
            ProcessingModule& module = *modules[static_cast<std::size_t>(c)];
            float* moduleIn = module.input();
            for (int32_t n = 0; n < count; ++n)
                moduleIn[n] = in[static_cast<std::size_t>((done + n) * channels + c)];
            module.processBlock(count, events);
            const float* moduleOut = module.output();
            for (int32_t n = 0; n < count; ++n)
                out[static_cast<std::size_t>((done + n) * channels + c)] = moduleOut[n];
        }
        done += count;
        position += count;
        ++counts.blocks;
    }
}

RenderReport StreamRenderer::report() const {
    RenderReport report = counts;
    report.sleepRequests = 0;
    for (const auto& module : modules)
        report.sleepRequests += module->sleepRequests();
    return report;
}

RenderReport renderThroughModule(const ModuleLibrary& library, const RenderSettings& settings,
                                 const AudioBuffer& input, AudioBuffer& output) {
    const int64_t frames = input.frames();
    output.channels = input.channels;
    output.sampleRate = input.sampleRate;
    output.samples.assign(input.samples.size(), 0.0f);
    StreamRenderer renderer(library, settings, input.channels);
    // Pieces of whole blocks, so progress can be shown between them.
    const int64_t piece = static_cast<int64_t>(settings.blockSize) * 64;
    int64_t position = 0;
    do {
        const int64_t count = std::min(piece, frames - position);
        const std::size_t offset = static_cast<std::size_t>(position * input.channels);
        renderer.process(input.samples.data() + offset, output.samples.data() + offset, count);
        position += count;
        if (settings.progress)
            settings.progress(position, frames);
    } while (position < frames);
    return renderer.report();
}

std::vector<float> readModuleTable(const ModuleLibrary& library, const std::string& moduleId,
                                   const PinText& text) {
    mphost::SharedMemoryPool pool;
    ProcessingModule module(library, pool, moduleId, kFirstInstanceHandle, 64);
    std::fill(module.input(), module.input() + module.blockSize(), 0.0f);
    mphost::EventList events;
    events.start(0).pinValue(0, 0, text);
    module.processBlock(module.blockSize(), events);
    const float* table = module.table();
    if (table == nullptr)
        return {};
    return std::vector<float>(table, table + kTableEntries);
}

void LevelMeter::add(const float* samples, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const double v = samples[i];
        if (!std::isfinite(v)) {
            ++nonFinite;
            continue;
        }
        peak = std::max(peak, std::fabs(v));
        sum += v * v;
        ++count;
    }
}

Levels LevelMeter::levels() const {
    Levels levels;
    levels.peak = peak;
    levels.nonFinite = nonFinite;
    if (count > 0)
        levels.rms = std::sqrt(sum / static_cast<double>(count));
    return levels;
}

void RisingSine::fill(float* out, int64_t first, int64_t count) const {
    for (int64_t i = 0; i < count; ++i) {
        const int64_t n = first + i;
        const double level = endAmplitude * static_cast<double>(n) / static_cast<double>(frames);
        const double phase = 2.0 * kPi * frequency * static_cast<double>(n) / sampleRate;
        out[i] = static_cast<float>(level * std::sin(phase));
    }
}

AudioBuffer risingSine(int sampleRate, double seconds, double frequency, double endAmplitude) {
    AudioBuffer audio;
    audio.channels = 1;
    audio.sampleRate = sampleRate;
    const RisingSine sine{sampleRate, static_cast<int64_t>(std::llround(seconds * sampleRate)), frequency,
                          endAmplitude};
    audio.samples.resize(static_cast<std::size_t>(sine.frames));
    sine.fill(audio.samples.data(), 0, sine.frames);
    return audio;
}

AudioBuffer steadySine(int sampleRate, int64_t frames, double frequency, double amplitude) {
    AudioBuffer audio;
    audio.channels = 1;
    audio.sampleRate = sampleRate;
    audio.samples.resize(static_cast<std::size_t>(frames));
    for (int64_t n = 0; n < frames; ++n) {
        const double phase = 2.0 * kPi * frequency * static_cast<double>(n) / sampleRate;
        audio.samples[static_cast<std::size_t>(n)] = static_cast<float>(amplitude * std::sin(phase));
    }
    return audio;
}

} // namespace shaperhost
