#pragma once
// Message ids, response and event codes of the ANT serial protocol, for both ends of the
// wire: the library (host side) and the virtual stick (device side).
#include <cstdint>

namespace antwire {

namespace msg {
constexpr uint8_t ResponseEvent = 0x40;
constexpr uint8_t UnassignChannel = 0x41;
constexpr uint8_t AssignChannel = 0x42;
constexpr uint8_t ChannelPeriod = 0x43;
constexpr uint8_t SearchTimeout = 0x44;
constexpr uint8_t RadioFrequency = 0x45;
constexpr uint8_t NetworkKey = 0x46;
constexpr uint8_t TransmitPower = 0x47;
constexpr uint8_t ResetSystem = 0x4A;
constexpr uint8_t OpenChannel = 0x4B;
constexpr uint8_t CloseChannel = 0x4C;
constexpr uint8_t RequestMessage = 0x4D;
constexpr uint8_t BroadcastData = 0x4E;
constexpr uint8_t AcknowledgedData = 0x4F;
constexpr uint8_t BurstData = 0x50;
constexpr uint8_t ChannelId = 0x51;
constexpr uint8_t ChannelStatus = 0x52;
constexpr uint8_t Capabilities = 0x54;
constexpr uint8_t AddChannelIdToList = 0x59;
constexpr uint8_t ConfigList = 0x5A;
constexpr uint8_t OpenRxScanMode = 0x5B;
constexpr uint8_t LowPrioritySearchTimeout = 0x63;
constexpr uint8_t EnableExtendedMessages = 0x66;
constexpr uint8_t LibConfig = 0x6E;
constexpr uint8_t Startup = 0x6F;
constexpr uint8_t Version = 0x3E;
constexpr uint8_t SerialNumber = 0x61;
constexpr uint8_t SerialError = 0xAE;
} // namespace msg

namespace event {
constexpr uint8_t RfEventMarker = 0x01; // message id byte of a 0x40 that carries an RF event
constexpr uint8_t RxSearchTimeout = 0x01;
constexpr uint8_t RxFail = 0x02;
constexpr uint8_t Tx = 0x03;
constexpr uint8_t TransferRxFailed = 0x04;
constexpr uint8_t TransferTxCompleted = 0x05;
constexpr uint8_t TransferTxFailed = 0x06;
constexpr uint8_t ChannelClosed = 0x07;
constexpr uint8_t RxFailGoToSearch = 0x08;
constexpr uint8_t ChannelCollision = 0x09;
constexpr uint8_t TransferTxStart = 0x0A;
constexpr uint8_t RxBroadcast = 0x9A;
constexpr uint8_t RxAcknowledged = 0x9B;
constexpr uint8_t RxBurstPacket = 0x9C;
constexpr uint8_t RxExtBroadcast = 0x9D;
constexpr uint8_t RxExtAcknowledged = 0x9E;
constexpr uint8_t RxExtBurstPacket = 0x9F;
} // namespace event

// Third byte of a 0x40 response to a command.
namespace response {
constexpr uint8_t NoError = 0x00;
constexpr uint8_t ChannelInWrongState = 0x15;
constexpr uint8_t ChannelNotOpened = 0x16;
constexpr uint8_t TransferInProgress = 0x1F;
constexpr uint8_t TransferSequenceError = 0x20;
constexpr uint8_t TransferInError = 0x21;
constexpr uint8_t InvalidMessage = 0x28;
constexpr uint8_t InvalidNetwork = 0x29;
constexpr uint8_t InvalidParameter = 0x33;
} // namespace response

// Option bytes of the capabilities message (0x54): max channels, max networks, then these.
// The standard byte holds "cannot" flags; the advanced bytes hold "can" flags.
namespace capability {
constexpr uint8_t NoReceiveChannels = 0x01;   // standard options
constexpr uint8_t NoTransmitChannels = 0x02;
constexpr uint8_t NoReceiveMessages = 0x04;
constexpr uint8_t NoTransmitMessages = 0x08;
constexpr uint8_t NoAcknowledgedMessages = 0x10;
constexpr uint8_t NoBurstMessages = 0x20;
constexpr uint8_t NetworkEnabled = 0x02;      // advanced options
constexpr uint8_t SerialNumberEnabled = 0x08;
constexpr uint8_t PerChannelTxPowerEnabled = 0x10;
constexpr uint8_t LowPrioritySearchEnabled = 0x20;
constexpr uint8_t ScriptEnabled = 0x40;
constexpr uint8_t SearchListEnabled = 0x80;
constexpr uint8_t ExtendedMessagesEnabled = 0x02; // advanced options 2
constexpr uint8_t ScanModeEnabled = 0x04;
constexpr uint8_t ProximitySearchEnabled = 0x10;
constexpr uint8_t ExtendedAssignEnabled = 0x20;
} // namespace capability

// Channel byte of a burst packet: bits 0-4 channel, 5-6 sequence, 7 last packet.
constexpr uint8_t kBurstChannelMask = 0x1F;
constexpr uint8_t kBurstLastPacket = 0x80;

} // namespace antwire
