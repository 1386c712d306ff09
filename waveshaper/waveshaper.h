// The waveshaper core shared by the waveshaper modules: three pins, a 513-entry lookup table in host
// shared memory, the interpolating sample loop and the output's streaming state. A derived module
// supplies rebuildTable, which turns the text pin's value into table entries.
#pragma once

#include <cstdint>

#include "dsp/mp_base.h"
#include "dsp/mp_pin.h"
#include "waveshaper/table_layout.h"

// Every module whose instance handle is equal shares the block of this name ("%x": lowercase hex).
extern const wchar_t kTableNameFormat[];
constexpr int kTableNameLength = 40;

// Writes kTableNameFormat with the handle as unsigned lowercase hex without leading zeros, terminated.
void formatTableName(uint32_t handle, wchar_t (&name)[kTableNameLength]);

// The core of both waveshaper modules; each module class derives from it and builds the table.
class Waveshaper : public MpBase {
public:
    Waveshaper();
    // Leaves the table block to the host.
    ~Waveshaper() override;

    // [processing thread] Obtains the table block named after the instance handle and installs
    // shapeSamples. Fails only without a host.
    int32_t onOpen() override;
    // [processing thread] A new text rebuilds the table; the output's streaming state follows the input's.
    void onPinsUpdated() override;
    // [processing thread] Writes table entries 0 to 512 from textPin's value, or nothing when the text
    // cannot be used. Called only from onPinsUpdated, after open.
    virtual void rebuildTable() = 0;

    // [processing thread] The process function: each input sample shaped by linear interpolation in the
    // table. Any input, NaN and infinities included, yields a table value or an interpolation between
    // neighbours. Writes silence without a table and nothing without both buffers.
    void shapeSamples(int32_t bufferOffset, int32_t sampleFrames);
    // [processing thread] With a static input, declares the output static again, so that the constant
    // output of the new table is produced for one more host block before the module may sleep.
    void refreshStaticOutput();

    AudioInPin inputPin;
    AudioOutPin outputPin;
    TextInPin textPin;
    float* table = nullptr; // the host's block, set by open
};

// The output sample for one input sample, by the table's steps in single precision.
float shapeSample(const float* table, float sample);
