#include "cli/render_engine.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/event_list.h"

namespace shaperhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Instance handles of the channel modules: distinct, so each channel has a table of its own.
constexpr int32_t kFirstInstanceHandle = 0x51;

} // namespace

RenderReport renderThroughModule(const ModuleLibrary& library, const RenderSettings& settings,
                                 const AudioBuffer& input, AudioBuffer& output) {
    const int channels = input.channels;
    const int64_t frames = input.frames();
    const int32_t blockSize = settings.blockSize;

    mphost::SharedMemoryPool pool;
    std::vector<std::unique_ptr<ProcessingModule>> modules;
    for (int c = 0; c < channels; ++c)
        modules.push_back(std::make_unique<ProcessingModule>(library, pool, settings.moduleId,
                                                             kFirstInstanceHandle + c, blockSize));

    std::vector<TextChange> changes = settings.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TextChange& a, const TextChange& b) { return a.sample < b.sample; });
    std::size_t nextChange = 0;

    output.channels = channels;
    output.sampleRate = input.sampleRate;
    output.samples.assign(input.samples.size(), 0.0f);

    RenderReport report;
    mphost::EventList events;
    int64_t position = 0;
    do {
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(blockSize, frames - position));
        events.clear();
        if (position == 0) {
            events.start(0).pinValue(0, 0, settings.text).streaming(0, 1, true);
            ++report.textEvents;
        }
        // Changes before the stream start go in with the first block; the rest at their sample.
        while (nextChange < changes.size() && changes[nextChange].sample < position + count) {
            const int64_t at = std::max<int64_t>(changes[nextChange].sample - position, 0);
            events.pinValue(static_cast<int32_t>(at), 0, changes[nextChange].text);
            ++report.textEvents;
            ++nextChange;
        }
        for (int c = 0; c < channels; ++c) {
            ProcessingModule& module = *modules[static_cast<std::size_t>(c)];
            float* in = module.input();
            for (int32_t n = 0; n < count; ++n)
                in[n] = input.samples[static_cast<std::size_t>((position + n) * channels + c)];
            module.processBlock(count, events);
            const float* out = module.output();
            for (int32_t n = 0; n < count; ++n)
                output.samples[static_cast<std::size_t>((position + n) * channels + c)] = out[n];
        }
        position += count;
        ++report.blocks;
        if (settings.progress)
            settings.progress(position, frames);
    } while (position < frames);

    for (const auto& module : modules)
        report.sleepRequests += module->sleepRequests();
    return report;
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

Levels measureLevels(const AudioBuffer& audio) {
    Levels levels;
    double sum = 0.0;
    for (float s : audio.samples) {
        const double v = s;
        levels.peak = std::max(levels.peak, std::fabs(v));
        sum += v * v;
    }
    if (!audio.samples.empty())
        levels.rms = std::sqrt(sum / static_cast<double>(audio.samples.size()));
    return levels;
}

AudioBuffer risingSine(int sampleRate, double seconds, double frequency, double endAmplitude) {
    AudioBuffer audio;
    audio.channels = 1;
    audio.sampleRate = sampleRate;
    const int64_t frames = static_cast<int64_t>(std::llround(seconds * sampleRate));
    audio.samples.resize(static_cast<std::size_t>(frames));
    for (int64_t n = 0; n < frames; ++n) {
        const double level = endAmplitude * static_cast<double>(n) / static_cast<double>(frames);
        const double phase = 2.0 * kPi * frequency * static_cast<double>(n) / sampleRate;
        audio.samples[static_cast<std::size_t>(n)] = static_cast<float>(level * std::sin(phase));
    }
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

void applyGain(AudioBuffer& audio, float gain) {
    if (gain == 1.0f)
        return;
    for (float& s : audio.samples)
        s *= gain;
}

} // namespace shaperhost
