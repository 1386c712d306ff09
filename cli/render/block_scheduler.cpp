#include "cli/render/block_scheduler.h"

#include <algorithm>
#include <utility>

namespace shaperhost {

BlockScheduler::BlockScheduler(const ModuleLibrary& library, const RenderSettings& settings, int channelCount,
                               std::vector<TextChange> moduleChanges)
    : blockSize(settings.blockSize), startText(settings.text), changes(std::move(moduleChanges)) {
    for (int c = 0; c < channelCount; ++c)
        modules.push_back(std::make_unique<ProcessingModule>(library, pool, settings.moduleId,
                                                             kFirstInstanceHandle + c, settings.blockSize));
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TextChange& a, const TextChange& b) { return a.sample < b.sample; });
}

BlockScheduler::~BlockScheduler() = default;

void BlockScheduler::prepareEvents(int32_t count) {
    events.clear();
    if (!started) {
        events.start(0).pinValue(0, 0, startText).streaming(0, 1, true);
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
}

void BlockScheduler::finishBlock(int32_t count) {
    position += count;
    ++counts.blocks;
}

void BlockScheduler::startIfIdle() {
    if (started)
        return;
    prepareEvents(0);
    for (const auto& module : modules)
        module->processBlock(0, events);
    finishBlock(0);
}

RenderReport BlockScheduler::report() const {
    RenderReport report = counts;
    report.sleepRequests = 0;
    for (const auto& module : modules)
        report.sleepRequests += module->sleepRequests();
    return report;
}

} // namespace shaperhost
