// The module stage at the audio's rate.
#pragma once

#include "cli/render/block_scheduler.h"
#include "cli/render/module_stream.h"

namespace shaperhost {

// Each piece runs through the modules at once, so its output is ready when push() returns. A piece
// ends a block where it ends: whole-block pieces keep the blocks at the block size. The first push
// starts the modules, also when it has no frames.
class PlainStream final : public ModuleStream {
public:
    PlainStream(const ModuleLibrary& library, const RenderSettings& settings, int channels);

    void push(const float* in, int64_t frames, std::vector<float>& out) override;
    void finish(std::vector<float>& out) override;
    RenderReport report() const override;

private:
    BlockScheduler scheduler;
};

} // namespace shaperhost
