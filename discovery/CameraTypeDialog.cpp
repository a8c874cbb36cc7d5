#include "discovery/CameraTypeDialog.h"

#include "discovery/DialogTextTranslator.h"

#include <QRadioButton>

#include <algorithm>

using namespace desktop;

namespace {

// Rows of channels in dialog units.
constexpr int kFirstRowY = 30;
constexpr int kRowPitch = 12;

std::vector<ControlTemplate> cameraTypeControls() {
    std::vector<ControlTemplate> controls = {
        {CameraTypeDialog::IDC_GROUP, ControlKind::GroupBox, "", 7, 4, 160, 226},
        {kNoId, ControlKind::Static, "Channel", 14, 15, 36, 8, Style::Center},
        {kNoId, ControlKind::Static, "Normal Camera", 54, 15, 52, 8, Style::Center},
        {kNoId, ControlKind::Static, "Speed Dome", 108, 15, 52, 8, Style::Center},
    };
    // Each row's label starts a group, so that the row's two buttons exclude each other only.
    static const char* const numbers[CameraTypeDialog::kMaxChannels] = {
        "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"};
    for (int row = 0; row < CameraTypeDialog::kMaxChannels; ++row) {
        const int y = kFirstRowY + row * kRowPitch;
        controls.push_back({CameraTypeDialog::channelId(row), ControlKind::Static, numbers[row], 14, y, 36, 8,
                            Style::Group | Style::Center});
        controls.push_back(
            {CameraTypeDialog::normalId(row), ControlKind::RadioButton, "", 76, y - 1, 10, 10});
        controls.push_back(
            {CameraTypeDialog::speedDomeId(row), ControlKind::RadioButton, "", 130, y - 1, 10, 10});
    }
    controls.push_back({IDOK, ControlKind::DefPushButton, "OK", 30, 246, 50, 14, Style::Group});
    controls.push_back({IDCANCEL, ControlKind::PushButton, "Cancel", 94, 246, 50, 14});
    return controls;
}

} // namespace

const DialogTemplate& CameraTypeDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Select Camera Type",
        .width = 174,
        .height = 271,
        .controls = cameraTypeControls(),
    };
    return tpl;
}

CameraTypeDialog::CameraTypeDialog(int channelCount, const CameraTypes& types, QWidget* parent)
    : TemplateDialog(dialogTemplate(), parent), m_nChannelCount(channelCount), m_nCameraType(types) {}

void CameraTypeDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    DialogTextTranslator::instance().translate(*this);

    // The caller checks the count; a count outside 0..16 must still not address other rows.
    const int shown = std::clamp(m_nChannelCount, 0, kMaxChannels);
    for (int row = 0; row < shown; ++row) {
        // Any code other than a normal camera's is shown as a speed dome, never as another row.
        const int id = m_nCameraType[row] == kNormalCamera ? normalId(row) : speedDomeId(row);
        itemAs<QRadioButton>(id)->setChecked(true);
    }
    if (shown >= kMaxChannels) {
        return;
    }
    for (int row = shown; row < kMaxChannels; ++row) {
        showItem(channelId(row), false);
        showItem(normalId(row), false);
        showItem(speedDomeId(row), false);
    }
    const int d = (kMaxChannels - shown) * kRowHeightPixels;
    QWidget* group = item(IDC_GROUP);
    group->resize(group->width(), group->height() - d);
    for (int id : {IDOK, IDCANCEL}) {
        QWidget* button = item(id);
        button->move(button->x(), button->y() - d);
    }
    setFixedSize(width(), height() - d);
}

void CameraTypeDialog::onOK() {
    const int shown = std::clamp(m_nChannelCount, 0, kMaxChannels);
    for (int row = 0; row < shown; ++row) {
        m_nCameraType[row] = itemAs<QRadioButton>(normalId(row))->isChecked() ? kNormalCamera : kSpeedDome;
    }
    endDialog(IDOK);
}
