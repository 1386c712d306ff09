#include "lv2/plugin.h"

#include <cmath>
#include <cstring>

#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>

#include "factory/module_ids.h"
#include "lv2/module_defaults.h"

namespace waveshapers_lv2 {

namespace {

// Both channel modules share this handle, so they share one table in the plugin's pool.
constexpr int32_t kInstanceHandle = 0x1d2;

constexpr int32_t kModuleBlock = Oversampler::kMaxFrames * Oversampler::kMaxFactor;

float decibelsToGain(float db, float low, float high, float fallback) {
    if (std::isnan(db))
        db = fallback;
    db = db < low ? low : (db > high ? high : db);
    return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
}

int oversamplingFactor(float value) {
    if (!(value >= 1.5f))
        return 1; // NaN included
    if (value < 3.0f)
        return 2;
    return value < 6.0f ? 4 : 8;
}

// Bytes of an atom with this body size, padded as atoms are laid out in sequences and objects.
constexpr std::size_t paddedAtom(std::size_t bodySize) {
    return (sizeof(LV2_Atom) + bodySize + 7u) & ~static_cast<std::size_t>(7u);
}

} // namespace

// ---- the published formula ----

void PublishedText::publish(const char* bytes, std::size_t count) {
    const uint32_t start = sequence.load(std::memory_order_relaxed);
    sequence.store(start + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t w = 0; w * 8 < count; ++w) {
        uint64_t word = 0;
        const std::size_t n = count - w * 8 < 8 ? count - w * 8 : 8;
        std::memcpy(&word, bytes + w * 8, n);
        words[w].store(word, std::memory_order_relaxed);
    }
    length.store(static_cast<uint32_t>(count), std::memory_order_relaxed);
    sequence.store(start + 2, std::memory_order_release);
}

std::size_t PublishedText::read(char (&out)[kMaxFormulaBytes + 1]) const {
    std::size_t count = 0;
    while (true) {
        const uint32_t before = sequence.load(std::memory_order_acquire);
        if (before % 2 != 0)
            continue;
        count = length.load(std::memory_order_relaxed);
        if (count > kMaxFormulaBytes)
            count = kMaxFormulaBytes;
        for (std::size_t w = 0; w * 8 < count; ++w) {
            const uint64_t word = words[w].load(std::memory_order_relaxed);
            const std::size_t n = count - w * 8 < 8 ? count - w * 8 : 8;
            std::memcpy(out + w * 8, &word, n);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence.load(std::memory_order_relaxed) == before)
            break;
    }
    out[count] = '\0';
    return count;
}

// ---- instance ----

Plugin* Plugin::create(PluginKind kind, int channels, double sampleRate, const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
    }
    if (kind == PluginKind::kFormula && map == nullptr)
        return nullptr;
    // The modules do not depend on the rate: their tables are built from their texts alone.
    (void)sampleRate;
    std::unique_ptr<Plugin> plugin(new Plugin(kind, channels, map));
    for (int c = 0; c < channels; ++c) {
        if (!plugin->modules[c] || !plugin->modules[c]->ok())
            return nullptr;
    }
    return plugin.release();
}

Plugin::Plugin(PluginKind pluginKind, int channelCount, LV2_URID_Map* map)
    : kind(pluginKind), channels(channelCount) {
    if (map != nullptr) {
        uris.atomString = map->map(map->handle, LV2_ATOM__String);
        uris.atomUrid = map->map(map->handle, LV2_ATOM__URID);
        uris.atomObject = map->map(map->handle, LV2_ATOM__Object);
        uris.atomBlank = map->map(map->handle, LV2_ATOM__Blank);
        uris.atomSequence = map->map(map->handle, LV2_ATOM__Sequence);
        uris.atomFrameTime = map->map(map->handle, LV2_ATOM__frameTime);
        uris.patchSet = map->map(map->handle, LV2_PATCH__Set);
        uris.patchGet = map->map(map->handle, LV2_PATCH__Get);
        uris.patchProperty = map->map(map->handle, LV2_PATCH__property);
        uris.patchValue = map->map(map->handle, LV2_PATCH__value);
        uris.formula = map->map(map->handle, kFormulaParameterUri);
        lv2_atom_forge_init(&forge, map);
    } else {
        std::memset(&forge, 0, sizeof(forge));
    }

    void* factory = moduleFactory();
    const wchar_t* id = kind == PluginKind::kCurve ? kCurveWaveshaperId : kFormulaWaveshaperId;
    for (int c = 0; c < channels; ++c)
        modules[c].reset(new ModuleInstance(factory, id, pool, kInstanceHandle, kModuleBlock));
    for (int c = 0; c < channels; ++c) {
        if (!modules[c]->ok())
            return;
    }

    // The first block: the start, and a text as long as any text run() may send, so that the text
    // pins' storage never grows on the audio thread. Then the default text.
    static const char16_t longest[kMaxFormulaBytes] = {};
    events.clear();
    events.start(0);
    events.pinValue(0, kWaveshaperTextPin, longest, kMaxFormulaBytes);
    events.streaming(0, kWaveshaperAudioInPin, true);
    for (int c = 0; c < channels; ++c)
        modules[c]->processBlock(0, events.head());

    for (int i = 0; i < kCurvePoints; ++i) {
        appliedX[i] = kDefaultPointX[i];
        appliedY[i] = kDefaultPointY[i];
    }
    if (kind == PluginKind::kCurve) {
        textUnits = writeCurveText(appliedX, appliedY, text, kMaxCurveTextUnits);
    } else {
        takeFormula(kDefaultFormula, std::strlen(kDefaultFormula));
    }
    events.clear();
    events.pinValue(0, kWaveshaperTextPin, text, textUnits);
    for (int c = 0; c < channels; ++c)
        modules[c]->processBlock(0, events.head());
    events.clear();
    textPending = false;
}

Plugin::~Plugin() = default;

void Plugin::connectPort(uint32_t port, void* data) {
    if (port < kCommonPortCount) {
        controls[port] = static_cast<float*>(data);
        return;
    }
    const uint32_t audio = audioFirstPort(kind);
    if (port >= audio) {
        const uint32_t index = port - audio;
        if (index < static_cast<uint32_t>(channels))
            audioIn[index] = static_cast<const float*>(data);
        else if (index < 2u * static_cast<uint32_t>(channels))
            audioOut[index - static_cast<uint32_t>(channels)] = static_cast<float*>(data);
        return;
    }
    if (kind == PluginKind::kCurve) {
        if (port < kPortY0)
            pointX[port - kPortX0] = static_cast<const float*>(data);
        else
            pointY[port - kPortY0] = static_cast<const float*>(data);
    } else if (port == kPortControl) {
        controlPort = static_cast<const LV2_Atom_Sequence*>(data);
    } else if (port == kPortNotify) {
        notifyPort = static_cast<LV2_Atom_Sequence*>(data);
    }
}

void Plugin::activate() {
    for (Oversampler& o : oversamplers)
        o.reset();
    std::memset(dryLine, 0, sizeof(dryLine));
    snapGains = true;
    if (kind == PluginKind::kFormula)
        formulaToNotify = true;
}

bool Plugin::ready() const {
    for (int c = 0; c < channels; ++c) {
        if (audioIn[c] == nullptr || audioOut[c] == nullptr)
            return false;
    }
    return true;
}

bool Plugin::takeFormula(const char* utf8, std::size_t bytes) {
    if (bytes > kMaxFormulaBytes)
        return false;
    char16_t converted[kMaxFormulaBytes];
    const std::size_t units = utf16FromUtf8(utf8, bytes, converted, kMaxFormulaBytes);
    if (units == kNotConverted)
        return false;
    std::memcpy(text, converted, units * sizeof(char16_t));
    textUnits = units;
    textPending = true;
    std::memmove(formulaUtf8, utf8, bytes);
    formulaUtf8[bytes] = '\0';
    formulaBytes = bytes;
    published.publish(formulaUtf8, formulaBytes);
    return true;
}

void Plugin::readControls() {
    const auto value = [this](uint32_t port, float fallback) {
        return controls[port] != nullptr ? *controls[port] : fallback;
    };
    driveTarget =
        decibelsToGain(value(kPortDrive, kDriveDefaultDb), kDriveMinDb, kDriveMaxDb, kDriveDefaultDb);
    levelTarget =
        decibelsToGain(value(kPortLevel, kLevelDefaultDb), kLevelMinDb, kLevelMaxDb, kLevelDefaultDb);
    float mix = value(kPortMix, kMixDefault);
    if (std::isnan(mix))
        mix = kMixDefault;
    mix = mix < kMixMin ? kMixMin : (mix > kMixMax ? kMixMax : mix);
    mixTarget = mix / kMixMax;
    if (snapGains) {
        driveGain = driveTarget;
        levelGain = levelTarget;
        mixGain = mixTarget;
        snapGains = false;
    }
    const int wanted = oversamplingFactor(value(kPortOversampling, 1.0f));
    if (wanted != factor) {
        factor = wanted;
        for (Oversampler& o : oversamplers)
            o.setFactor(factor);
        std::memset(dryLine, 0, sizeof(dryLine));
    }
}

void Plugin::readCurvePoints() {
    float x[kCurvePoints];
    float y[kCurvePoints];
    bool changed = !curveSent;
    for (int i = 0; i < kCurvePoints; ++i) {
        x[i] = pointX[i] != nullptr ? clampPointVolts(*pointX[i], appliedX[i]) : appliedX[i];
        y[i] = pointY[i] != nullptr ? clampPointVolts(*pointY[i], appliedY[i]) : appliedY[i];
        changed = changed || x[i] != appliedX[i] || y[i] != appliedY[i];
    }
    if (!changed)
        return;
    for (int i = 0; i < kCurvePoints; ++i) {
        appliedX[i] = x[i];
        appliedY[i] = y[i];
    }
    textUnits = writeCurveText(appliedX, appliedY, text, kMaxCurveTextUnits);
    textPending = true;
    curveSent = true;
}

void Plugin::notifyFormula(int64_t frame) {
    formulaToNotify = false;
    if (notifyPort == nullptr || forge.buf == nullptr)
        return;
    // The whole event must fit, or nothing is written: frame time, object header, two properties.
    const std::size_t needed = sizeof(int64_t) + sizeof(LV2_Atom) + sizeof(LV2_Atom_Object_Body) + 2 * 8 +
                               paddedAtom(sizeof(LV2_URID)) + paddedAtom(formulaBytes + 1);
    if (forge.offset + needed > forge.size) {
        formulaToNotify = true; // next run, when the host may give more room
        return;
    }
    LV2_Atom_Forge_Frame frameObject;
    lv2_atom_forge_frame_time(&forge, frame);
    lv2_atom_forge_object(&forge, &frameObject, 0, uris.patchSet);
    lv2_atom_forge_key(&forge, uris.patchProperty);
    lv2_atom_forge_urid(&forge, uris.formula);
    lv2_atom_forge_key(&forge, uris.patchValue);
    lv2_atom_forge_string(&forge, formulaUtf8, static_cast<uint32_t>(formulaBytes));
    lv2_atom_forge_pop(&forge, &frameObject);
}

void Plugin::handleMessage(const LV2_Atom* body, std::size_t bodySize, int64_t frame) {
    if ((body->type != uris.atomObject && body->type != uris.atomBlank) ||
        bodySize < sizeof(LV2_Atom_Object_Body))
        return;
    const auto* object = reinterpret_cast<const LV2_Atom_Object_Body*>(body + 1);
    if (object->otype != uris.patchSet && object->otype != uris.patchGet)
        return;
    // The properties, each checked to lie within the object before it is read.
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    const char* bytes = reinterpret_cast<const char*>(object);
    std::size_t offset = sizeof(LV2_Atom_Object_Body);
    while (bodySize - offset >= sizeof(LV2_Atom_Property_Body)) {
        const auto* entry = reinterpret_cast<const LV2_Atom_Property_Body*>(bytes + offset);
        const std::size_t valueSize = entry->value.size;
        if (valueSize > bodySize - offset - sizeof(LV2_Atom_Property_Body))
            return;
        if (entry->key == uris.patchProperty)
            property = &entry->value;
        else if (entry->key == uris.patchValue)
            value = &entry->value;
        offset += (sizeof(LV2_Atom_Property_Body) + valueSize + 7u) & ~static_cast<std::size_t>(7u);
        if (offset > bodySize)
            break;
    }
    LV2_URID propertyUrid = 0;
    if (property != nullptr) {
        if (property->type != uris.atomUrid || property->size < sizeof(LV2_URID))
            return;
        std::memcpy(&propertyUrid, property + 1, sizeof(LV2_URID));
    }
    if (object->otype == uris.patchGet) {
        if (property == nullptr || propertyUrid == uris.formula)
            notifyFormula(frame);
        return;
    }
    if (propertyUrid != uris.formula || value == nullptr || value->type != uris.atomString)
        return;
    // The string's bytes up to its terminator (a string without one ends with its atom).
    const char* chars = reinterpret_cast<const char*>(value + 1);
    const void* end = std::memchr(chars, 0, value->size);
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - chars) : value->size;
    if (takeFormula(chars, length))
        notifyFormula(frame);
}

void Plugin::processChunk(uint32_t first, int count) {
    const float driveStep = (driveTarget - driveGain) / static_cast<float>(count);
    const float levelStep = (levelTarget - levelGain) / static_cast<float>(count);
    const float mixStep = (mixTarget - mixGain) / static_cast<float>(count);
    const bool ramp = driveStep != 0.0f || levelStep != 0.0f || mixStep != 0.0f;
    const int latency = oversamplers[0].latency();
    // Taken before the modules run rather than cleared after: a text that arrives meanwhile (a host
    // restoring state from another thread) stays pending for the next chunk instead of being lost.
    if (textPending) {
        textPending = false;
        events.pinValue(0, kWaveshaperTextPin, text, textUnits);
    }

    for (int c = 0; c < channels; ++c) {
        const float* in = audioIn[c] + first;
        float* out = audioOut[c] + first; // may be the input's buffer: each frame is read before written
        ModuleInstance& module = *modules[c];
        const bool oversampled = factor != 1;
        if (!oversampled && !ramp && driveGain == 1.0f && mixGain == 1.0f && levelGain == 1.0f) {
            // Nothing around the module: it reads the host's input and writes the host's output.
            module.useBuffers(in, out);
            module.processBlock(count, events.head());
            continue;
        }
        module.useOwnBuffers();
        // The dry signal, delayed as much as the wet one.
        const float* dry = in;
        if (latency > 0) {
            std::memcpy(dryLine[c] + latency, in, sizeof(float) * static_cast<std::size_t>(count));
            dry = dryLine[c];
        }
        float drivenBuffer[Oversampler::kMaxFrames];
        float* driven = oversampled ? drivenBuffer : module.input();
        if (ramp) {
            for (int n = 0; n < count; ++n)
                driven[n] = in[n] * (driveGain + driveStep * static_cast<float>(n + 1));
        } else if (driveGain != 1.0f) {
            for (int n = 0; n < count; ++n)
                driven[n] = in[n] * driveGain;
        } else {
            std::memcpy(driven, in, sizeof(float) * static_cast<std::size_t>(count));
        }
        if (oversampled)
            oversamplers[c].up(driven, count, module.input());
        module.processBlock(count * factor, events.head());
        float wetBuffer[Oversampler::kMaxFrames];
        const float* wet = module.output();
        if (oversampled) {
            oversamplers[c].down(module.output(), count, wetBuffer);
            wet = wetBuffer;
        }
        if (ramp) {
            for (int n = 0; n < count; ++n) {
                const float step = static_cast<float>(n + 1);
                const float m = mixGain + mixStep * step;
                out[n] = (levelGain + levelStep * step) * (dry[n] * (1.0f - m) + wet[n] * m);
            }
        } else if (mixGain == 1.0f) {
            if (levelGain == 1.0f) {
                std::memcpy(out, wet, sizeof(float) * static_cast<std::size_t>(count));
            } else {
                for (int n = 0; n < count; ++n)
                    out[n] = levelGain * wet[n];
            }
        } else {
            for (int n = 0; n < count; ++n)
                out[n] = levelGain * (dry[n] * (1.0f - mixGain) + wet[n] * mixGain);
        }
        if (latency > 0)
            std::memmove(dryLine[c], dryLine[c] + count, sizeof(float) * static_cast<std::size_t>(latency));
    }
    events.clear();
    driveGain = driveTarget;
    levelGain = levelTarget;
    mixGain = mixTarget;
}

void Plugin::processFrames(uint32_t first, uint32_t count) {
    while (count > 0) {
        const uint32_t n = count < static_cast<uint32_t>(Oversampler::kMaxFrames)
                               ? count
                               : static_cast<uint32_t>(Oversampler::kMaxFrames);
        processChunk(first, static_cast<int>(n));
        first += n;
        count -= n;
    }
}

void Plugin::run(uint32_t frames) {
    if (!ready())
        return;
    readControls();
    if (kind == PluginKind::kCurve)
        readCurvePoints();

    // The notify port's capacity is its atom's size on entry; an empty sequence goes out at least.
    forge.buf = nullptr;
    if (notifyPort != nullptr && kind == PluginKind::kFormula) {
        const uint32_t capacity = notifyPort->atom.size;
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(notifyPort), capacity);
        // The sequence stays open until the end of run; its size grows with each event.
        notifyOpen = lv2_atom_forge_sequence_head(&forge, &notifyFrame, 0) != 0;
        if (!notifyOpen)
            forge.buf = nullptr;
    }
    if (formulaToNotify)
        notifyFormula(0);

    uint32_t position = 0;
    if (kind == PluginKind::kFormula && controlPort != nullptr &&
        controlPort->atom.size >= sizeof(LV2_Atom_Sequence_Body)) {
        // Events in order, each checked to lie within the sequence before it is read; audio runs up
        // to each event's frame before the event takes effect.
        const bool frameTimes = controlPort->body.unit == 0 || controlPort->body.unit == uris.atomFrameTime;
        const char* bytes = reinterpret_cast<const char*>(&controlPort->body);
        const std::size_t size = controlPort->atom.size;
        std::size_t offset = sizeof(LV2_Atom_Sequence_Body);
        while (size - offset >= sizeof(LV2_Atom_Event)) {
            const auto* event = reinterpret_cast<const LV2_Atom_Event*>(bytes + offset);
            const std::size_t bodySize = event->body.size;
            if (bodySize > size - offset - sizeof(LV2_Atom_Event))
                break;
            int64_t at = frameTimes ? event->time.frames : 0;
            at = at < position ? position : (at > static_cast<int64_t>(frames) ? frames : at);
            processFrames(position, static_cast<uint32_t>(at) - position);
            position = static_cast<uint32_t>(at);
            handleMessage(&event->body, bodySize, at);
            offset += (sizeof(LV2_Atom_Event) + bodySize + 7u) & ~static_cast<std::size_t>(7u);
            if (offset > size)
                break;
        }
    }
    processFrames(position, frames - position);

    if (controls[kPortLatency] != nullptr)
        *controls[kPortLatency] = static_cast<float>(oversamplers[0].latency());
    if (notifyOpen) {
        lv2_atom_forge_pop(&forge, &notifyFrame);
        notifyOpen = false;
    }
}

// ---- state ----

LV2_State_Status Plugin::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    if (kind != PluginKind::kFormula)
        return LV2_STATE_SUCCESS;
    char saved[kMaxFormulaBytes + 1];
    const std::size_t length = published.read(saved);
    return store(handle, uris.formula, saved, length + 1, uris.atomString,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Plugin::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    if (kind != PluginKind::kFormula)
        return LV2_STATE_SUCCESS;
    std::size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(handle, uris.formula, &size, &type, &flags);
    if (value == nullptr) {
        // A state without a formula is the formula's default.
        takeFormula(kDefaultFormula, std::strlen(kDefaultFormula));
        formulaToNotify = true;
        return LV2_STATE_SUCCESS;
    }
    if (type != uris.atomString)
        return LV2_STATE_ERR_BAD_TYPE;
    const char* chars = static_cast<const char*>(value);
    const void* end = std::memchr(chars, 0, size);
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - chars) : size;
    if (!takeFormula(chars, length))
        return LV2_STATE_ERR_UNKNOWN;
    formulaToNotify = true;
    return LV2_STATE_SUCCESS;
}

} // namespace waveshapers_lv2
