// The one place where a render's channel modules run: it cuts the stream at the module's rate into
// blocks and puts the host's events into each block, the same way whether the modules run at the
// audio's rate or oversampled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "cli/modules/module_library.h"
#include "cli/render/render_settings.h"
#include "host/event_list.h"

namespace shaperhost {

// One module instance per channel (channel c under kFirstInstanceHandle + c, each with its own table),
// fed block after block. The first block carries the start event, the start text and the streaming
// event; a text change goes in with the block that holds its sample, at its offset there, and a change
// before the stream start with the first block. Blocks end at multiples of the block size counted from
// the stream start, whatever pieces the samples come in.
class BlockScheduler {
public:
    // `changes` are at the module's rate, in any order; equal samples keep their order.
    BlockScheduler(const ModuleLibrary& library, const RenderSettings& settings, int channels,
                   std::vector<TextChange> changes);
    ~BlockScheduler();
    BlockScheduler(const BlockScheduler&) = delete;
    BlockScheduler& operator=(const BlockScheduler&) = delete;

    // Runs the modules over `frames` frames of every channel. feed(channel, frame, count, moduleIn)
    // copies `count` input samples of the channel, from `frame` of this call on, into the module's
    // block buffer; take(channel, frame, count, moduleOut) takes its output. With `wholeBlocks` a block
    // runs only when it can reach its end and the frames after the last whole block wait (the return
    // value is the frames used); else every frame runs and a block also ends where the frames end.
    template <typename Feed, typename Take>
    int64_t run(int64_t frames, bool wholeBlocks, Feed&& feed, Take&& take);
    // Runs the start block with no frames when no block ran yet, so a stream without samples still
    // starts its modules.
    void startIfIdle();

    int channels() const { return static_cast<int>(modules.size()); }
    // Blocks and text events so far (per stream, not per channel), and the sleep requests of every
    // instance.
    RenderReport report() const;

private:
    // The events of the block of `count` frames at the current position.
    void prepareEvents(int32_t count);
    void finishBlock(int32_t count);

    int32_t blockSize;
    PinText startText;
    mphost::SharedMemoryPool pool;
    std::vector<std::unique_ptr<ProcessingModule>> modules;
    std::vector<TextChange> changes;
    std::size_t nextChange = 0;
    mphost::EventList events;
    int64_t position = 0; // module frames run so far
    bool started = false;
    RenderReport counts;
};

template <typename Feed, typename Take>
int64_t BlockScheduler::run(int64_t frames, bool wholeBlocks, Feed&& feed, Take&& take) {
    int64_t done = 0;
    while (done < frames) {
        const int64_t untilBoundary = blockSize - position % blockSize;
        if (wholeBlocks && frames - done < untilBoundary)
            break;
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(untilBoundary, frames - done));
        prepareEvents(count);
        for (int c = 0; c < channels(); ++c) {
            ProcessingModule& module = *modules[static_cast<std::size_t>(c)];
            feed(c, done, count, module.input());
            module.processBlock(count, events);
            take(c, done, count, module.output());
        }
        finishBlock(count);
        done += count;
    }
    return done;
}

} // namespace shaperhost
