#include "ui/ToolbarState.h"

namespace ferrylantern {

ToolbarState toolbarState(const ToolbarInputs& inputs)
{
    ToolbarState state;
    if (!inputs.hasUploadsInFlight) {
        state.title = QStringLiteral("已接收文件");
    } else {
        state.title = inputs.isReceiving ? QStringLiteral("正在接收") : QStringLiteral("正在完成传输");
    }

    state.viewMode.symbol = Symbol::listBullet;
    state.viewMode.checked = inputs.listBySource;
    if (inputs.hasUploadsInFlight) {
        state.viewMode.help = QStringLiteral("传输过程中无法切换视图");
    } else {
        state.viewMode.help =
            inputs.listBySource ? QStringLiteral("切换为卡片视图") : QStringLiteral("按来源列表显示（文件管理器列表）");
    }
    state.viewMode.enabled = !inputs.hasUploadsInFlight && (inputs.hasRecords || inputs.hasUploadsInFlight);

    state.waveforms.symbol = inputs.showAudioWaveform ? Symbol::eye : Symbol::eyeSlash;
    state.waveforms.help =
        inputs.showAudioWaveform ? QStringLiteral("隐藏波形与时间") : QStringLiteral("显示波形与时间");
    state.waveforms.enabled = !inputs.listBySource;

    state.clear.symbol = Symbol::trash;
    state.clear.help = QStringLiteral("清空记录");
    state.clear.enabled = inputs.hasRecords;
    return state;
}

} // namespace ferrylantern
