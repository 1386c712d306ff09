#include "waveshaper/waveshaper.h"

#include <cmath>

#include "factory/module_ids.h"
#include "waveshaper/shape_block.h"

const wchar_t kTableNameFormat[] = L"DV waveshaper3 %x curve";

void formatTableName(uint32_t handle, wchar_t (&name)[kTableNameLength]) {
    int out = 0;
    for (const wchar_t* f = kTableNameFormat; *f != L'\0' && out < kTableNameLength - 1; ++f) {
        if (f[0] == L'%' && f[1] == L'x') {
            wchar_t digits[8];
            int count = 0;
            do {
                digits[count++] = L"0123456789abcdef"[handle & 0xFu];
                handle >>= 4;
            } while (handle != 0);
            while (count > 0 && out < kTableNameLength - 1)
                name[out++] = digits[--count];
            ++f;
        } else {
            name[out++] = *f;
        }
    }
    name[out] = L'\0';
}

Waveshaper::Waveshaper() {
    registerPin(kWaveshaperTextPin, textPin);
    registerPin(kWaveshaperAudioInPin, inputPin);
    registerPin(kWaveshaperAudioOutPin, outputPin);
}

Waveshaper::~Waveshaper() = default;

int32_t Waveshaper::onOpen() {
    if (host == nullptr)
        return gmpi::kResultFailed;
    int32_t handle = 0;
    host->queryInstanceHandle(&handle);
    wchar_t name[kTableNameLength];
    formatTableName(static_cast<uint32_t>(handle), name);
    void* block = nullptr;
    int32_t needsInitialising = 0;
    // The table is built from the text pin only; a new block's contents are left as the host made them.
    host->obtainSharedMemory(name, &block, -1.0f, kTableBytes, &needsInitialising);
    table = static_cast<float*>(block);
    setProcessFunction(&Waveshaper::shapeSamples);
    return gmpi::kResultOk;
}

float shapeSample(const float* table, float sample) {
    const float b = sample + kTableOffset;
    if (std::signbit(b))
        return table[0];
    const float p = b * kTableStepsPerUnit;
    // k = trunc(p) is the last entry or more (or the conversion would overflow) exactly when p is not
    // below the step count: NaN and infinities included. Testing first keeps the conversion in range.
    if (!(p < kTableStepsPerUnit))
        return table[kLastTableEntry];
    const int32_t k = static_cast<int32_t>(p);
    return table[k] + (p - static_cast<float>(k)) * (table[k + 1] - table[k]);
}

void Waveshaper::shapeSamples(int32_t bufferOffset, int32_t sampleFrames) {
    if (sampleFrames <= 0)
        return;
    const float* in = inputPin.buffer;
    float* out = outputPin.buffer;
    if (in == nullptr || out == nullptr)
        return;
    in += bufferOffset;
    out += bufferOffset;
    if (table == nullptr) {
        for (int32_t n = 0; n < sampleFrames; ++n)
            out[n] = 0.0f;
        return;
    }
    // in and out may be the same buffer: each sample is read before its output is written.
    shapeBlock(table, in, out, sampleFrames);
}

void Waveshaper::onPinsUpdated() {
    if (textPin.isUpdated()) {
        rebuildTable();
        refreshStaticOutput();
    }
    if (inputPin.streamingChanged)
        outputPin.setStreaming(inputPin.isStreaming());
}

void Waveshaper::refreshStaticOutput() {
    if (inputPin.isStreaming())
        return;
    outputPin.setStreaming(false);
}
