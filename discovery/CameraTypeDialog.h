#pragma once

#include "desktop/TemplateDialog.h"

#include <array>
#include <cstdint>

// The camera type of each channel of a recorder: one row per channel with a radio button for a
// normal camera and one for a speed dome. Rows beyond the channel count are hidden and the window
// shrinks by their height.
class CameraTypeDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 132;
    static constexpr int IDC_GROUP = 1070;
    static constexpr int IDC_FIRST_CHANNEL = 1071; // static text of row r: 1071 + r
    static constexpr int IDC_FIRST_NORMAL = 1089;  // normal camera of row r: 1089 + 2r, speed dome 1090 + 2r
    static constexpr int kMaxChannels = 16;
    // What one hidden row takes off the window, in pixels.
    static constexpr int kRowHeightPixels = 20;

    // Camera type codes as the data file stores them.
    static constexpr std::int32_t kNormalCamera = 0;
    static constexpr std::int32_t kSpeedDome = 1;

    using CameraTypes = std::array<std::int32_t, kMaxChannels>;

    static const desktop::DialogTemplate& dialogTemplate();
    static constexpr int channelId(int row) { return IDC_FIRST_CHANNEL + row; }
    static constexpr int normalId(int row) { return IDC_FIRST_NORMAL + 2 * row; }
    static constexpr int speedDomeId(int row) { return IDC_FIRST_NORMAL + 2 * row + 1; }

    explicit CameraTypeDialog(int channelCount = 8, const CameraTypes& types = {}, QWidget* parent = nullptr);

    int channelCount() const { return m_nChannelCount; }
    // The types as shown when the dialog opened, or as chosen once OK was pressed.
    const CameraTypes& cameraTypes() const { return m_nCameraType; }

protected:
    void onInitDialog() override;
    void onOK() override;

private:
    int m_nChannelCount;
    CameraTypes m_nCameraType;
};
