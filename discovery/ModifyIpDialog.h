#pragma once

#include "desktop/TemplateDialog.h"

#include <cstdint>

// The new IP address, subnet mask and default gateway of a recorder. Addresses are numbers with
// the first dotted octet in the high byte, as the IP address boxes and the engine hold them.
class ModifyIpDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 104;
    static constexpr int IDC_IPADDRESS = 1017;
    static constexpr int IDC_SUBNET_MASK = 1018;
    static constexpr int IDC_GATEWAY = 1019;

    static const desktop::DialogTemplate& dialogTemplate();

    explicit ModifyIpDialog(QWidget* parent = nullptr);

    // The values the boxes show when the dialog opens.
    void setValues(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway);
    std::uint32_t address() const { return m_dwAddress; }
    std::uint32_t mask() const { return m_dwMask; }
    std::uint32_t gateway() const { return m_dwGateway; }

protected:
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onOK() override;

private:
    std::uint32_t m_dwAddress = 0;
    std::uint32_t m_dwMask = 0;
    std::uint32_t m_dwGateway = 0;
};
