// What the main window's toolbar shows for the current state: its title, and for each of its three
// buttons the symbol, the help text and whether it can be pressed.
#pragma once

#include "ui/SymbolIcon.h"

#include <QString>

namespace ferrylantern {

struct ToolbarInputs
{
    bool hasRecords = false;
    bool hasUploadsInFlight = false;
    bool isReceiving = true; // uploads in flight after receiving was switched off only finish
    bool listBySource = false;
    bool showAudioWaveform = true;
};

struct ToolbarButtonState
{
    Symbol symbol;
    QString help;
    bool enabled = true;
    bool checked = false; // shown filled
};

struct ToolbarState
{
    QString title;
    ToolbarButtonState viewMode;
    ToolbarButtonState waveforms;
    ToolbarButtonState clear;
};

ToolbarState toolbarState(const ToolbarInputs& inputs);

} // namespace ferrylantern
