// Sample files for the gallery, written when it starts: audio with an interesting shape, a file that
// only looks like audio, and a few other kinds.
#pragma once

#include <QString>

namespace ferrylantern::gallery {

struct SampleFiles
{
    QString monoWav;   // 44.1 kHz 16-bit mono, a few seconds of beats
    QString stereoWav; // 48 kHz 16-bit stereo, left and right apart
    QString slowWav;   // stereo; the gallery's loader holds it back to show the loading state
    QString brokenWav; // named like audio, but no audio inside
    QString document;  // a small PDF-named file
    QString unknown;   // an extension nobody knows
};

// Writes the samples into `folder` (which must exist).
SampleFiles writeSampleFiles(const QString& folder);

} // namespace ferrylantern::gallery
