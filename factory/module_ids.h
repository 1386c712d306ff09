// The modules this library offers, as a host names them: identifier text, kind, and the number under
// which each module registers each pin. Hosts store these values in patches, so they never change.
#pragma once

#include <cstdint>

// The kind a host passes with an identifier to the factory's create operations.
enum ModuleKind : int32_t {
    kProcessingModule = 0, // works on audio on the host's processing thread
    kEditorModule = 1,     // draws a panel in the host's window on its editor thread
};

// The curve-points waveshaper (processing) and its curve editor panel (editor) share this identifier.
constexpr const wchar_t kCurveWaveshaperId[] = L"Vedivizor Arirezudez3";
// The formula waveshaper (processing).
constexpr const wchar_t kFormulaWaveshaperId[] = L"VU Reridezizi2D";

// The same identifiers as narrow text, for tools that name modules on a command line or in files.
constexpr const char kCurveWaveshaperIdNarrow[] = "Vedivizor Arirezudez3";
constexpr const char kFormulaWaveshaperIdNarrow[] = "VU Reridezizi2D";

// True when an ASCII narrow text spells the same characters as a wide one; keeps the two forms in step.
constexpr bool sameIdentifier(const wchar_t* wide, const char* narrow) {
    return *wide == static_cast<wchar_t>(*narrow) &&
           (*narrow == '\0' || sameIdentifier(wide + 1, narrow + 1));
}
static_assert(sameIdentifier(kCurveWaveshaperId, kCurveWaveshaperIdNarrow), "one curve identifier");
static_assert(sameIdentifier(kFormulaWaveshaperId, kFormulaWaveshaperIdNarrow), "one formula identifier");

// The pins of both waveshapers, registered by their common core.
enum WaveshaperPin : int32_t {
    kWaveshaperTextPin = 0,     // text input: the curve text or the formula
    kWaveshaperAudioInPin = 1,  // audio input
    kWaveshaperAudioOutPin = 2, // audio output
};

// The pins of the curve editor panel.
enum CurveEditorPin : int32_t {
    kCurveEditorTextPin = 0, // the curve text, the same as the curve waveshaper's text pin
};
