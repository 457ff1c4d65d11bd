#pragma once
// The ANT event codes, message ids and response codes the stack compares against (values of
// the published ANT protocol). The stack sees the library only through its C functions, so it
// keeps its own names for them rather than the wire layer's.
#include <cstdint>

constexpr uint8_t EVENT_RX_SEARCH_TIMEOUT = 0x01;
constexpr uint8_t EVENT_RX_FAIL = 0x02;
constexpr uint8_t EVENT_TX = 0x03;
constexpr uint8_t EVENT_TRANSFER_RX_FAILED = 0x04;
constexpr uint8_t EVENT_TRANSFER_TX_COMPLETED = 0x05;
constexpr uint8_t EVENT_TRANSFER_TX_FAILED = 0x06;
constexpr uint8_t EVENT_CHANNEL_CLOSED = 0x07;
constexpr uint8_t EVENT_RX_FAIL_GO_TO_SEARCH = 0x08;
constexpr uint8_t EVENT_RX_BROADCAST = 0x9A;
constexpr uint8_t EVENT_RX_ACKNOWLEDGED = 0x9B;
constexpr uint8_t EVENT_RX_BURST_PACKET = 0x9C;
constexpr uint8_t EVENT_RX_EXT_BURST_PACKET = 0x9F; // the last of the receive events

constexpr uint8_t MESG_RESPONSE_EVENT_ID = 0x40;
constexpr uint8_t RESPONSE_NO_ERROR = 0x00;
constexpr uint8_t MESG_CHANNEL_ID_ID = 0x51;
constexpr uint8_t MESG_NETWORK_KEY_ID = 0x46;
constexpr uint8_t MESG_RADIO_TX_POWER_ID = 0x47;
constexpr uint8_t MESG_ACKNOWLEDGED_DATA_ID = 0x4F;
constexpr uint8_t RESPONSE_TRANSFER_IN_PROGRESS = 0x1F;
