#include "audio/AudioMeterTimeline.h"

#include <algorithm>
#include <cmath>

namespace ferrylantern {

AudioMeterTimeline::AudioMeterTimeline(std::size_t capacityBlocks)
    : blocks_(std::max<std::size_t>(capacityBlocks, 1))
{}

void AudioMeterTimeline::clear()
{
    std::fill(blocks_.begin(), blocks_.end(), Block{});
}

AudioMeterTimeline::Block& AudioMeterTimeline::slotFor(std::int64_t blockIndex)
{
    Block& block = blocks_[static_cast<std::size_t>(blockIndex) % blocks_.size()];
    if (block.index != blockIndex) {
        block = Block{blockIndex, 0, 0};
    }
    return block;
}

const AudioMeterTimeline::Block* AudioMeterTimeline::find(std::int64_t blockIndex) const
{
    const Block& block = blocks_[static_cast<std::size_t>(blockIndex) % blocks_.size()];
    return block.index == blockIndex ? &block : nullptr;
}

void AudioMeterTimeline::add(const float* interleaved, std::int64_t frameCount, int channelCount,
                             std::int64_t firstFrame)
{
    if (interleaved == nullptr || frameCount <= 0 || channelCount <= 0 || firstFrame < 0) {
        return;
    }
    std::int64_t frame = 0;
    while (frame < frameCount) {
        const std::int64_t position = firstFrame + frame;
        const std::int64_t blockEnd = (position / blockFrames + 1) * blockFrames;
        const std::int64_t runEnd = std::min(frameCount, frame + (blockEnd - position));
        Block& block = slotFor(position / blockFrames);
        for (; frame < runEnd; ++frame) {
            const float* samples = interleaved + frame * channelCount;
            const float left = std::fabs(samples[0]);
            block.left = std::max(block.left, left);
            block.right = std::max(block.right, channelCount > 1 ? std::fabs(samples[1]) : left);
        }
    }
}

AudioMeterLevels AudioMeterTimeline::levelsBetween(std::int64_t fromFrame, std::int64_t toFrame) const
{
    if (toFrame < 0) {
        return {};
    }
    const std::int64_t lastBlock = toFrame / blockFrames;
    const std::int64_t oldestHeld = lastBlock - static_cast<std::int64_t>(blocks_.size()) + 1;
    const std::int64_t firstBlock = std::max({std::min(fromFrame, toFrame) / blockFrames, oldestHeld, std::int64_t{0}});
    float left = 0;
    float right = 0;
    for (std::int64_t index = firstBlock; index <= lastBlock; ++index) {
        if (const Block* block = find(index)) {
            left = std::max(left, block->left);
            right = std::max(right, block->right);
        }
    }
    return {peakToDBFS(left), peakToDBFS(right)};
}

} // namespace ferrylantern
