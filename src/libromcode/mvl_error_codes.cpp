// The boot ROM's status codes and their names, ascending by code (0x06 has none).
#include "libromcode/mvl_error_codes.h"

extern "C" {

const mvl_bootrom_errorcode MVL_ERROR_CODES[MVL_ERROR_CODES_COUNT] = {
    {0x00, "NoError"},
    {0x01, "NotFoundError"},
    {0x02, "GeneralError"},
    {0x03, "WriteError"},
    {0x04, "ReadError"},
    {0x05, "NotSupportedError"},
    {0x07, "PlatformBusyError"},
    {0x08, "PlatformReadyError"},
    {0x20, "EraseError"},
    {0x21, "ProgramError"},
    {0x22, "InvalidBootTypeError"},
    {0x23, "ProtectionRegProgramError"},
    {0x24, "NoOTPFound"},
    {0x40, "DFCDoubleBitError"},
    {0x41, "DFCSingleBitError"},
    {0x42, "DFCCS0BadBlockDetected"},
    {0x43, "DFCCS1BadBlockDetected"},
    {0x44, "DFCInitFailed"},
    {0x60, "InvalidOEMVerifyKeyError"},
    {0x61, "InvalidOBMImageError"},
    {0x62, "SecureBootFailureError"},
    {0x63, "InvalidSecureBootMethodError"},
    {0x64, "UnsupportedFlashError"},
    {0x65, "InvalidCaddoFIFOEntryError"},
    {0x66, "InvalidCaddoKeyNumberError"},
    {0x67, "InvalidCaddoKeyTypeError"},
    {0x68, "RSADigitalSignatureDecryptError"},
    {0x69, "InvalidHashValueLengthError"},
    {0x6A, "InvalidTIMImageError"},
    {0x6B, "HashSizeMismatch"},
    {0x6C, "InvalidKeyHashError"},
    {0x6D, "TIMNotFound"},
    {0x6E, "WTMStateError"},
    {0x6F, "FuseRWError"},
    {0x70, "InvalidOTPHashError"},
    {0x71, "CRCFailedError"},
    {0x90, "DownloadPortError"},
    {0x91, "DownloadError"},
    {0x92, "FlashNotErasedError"},
    {0x93, "InvalidKeyLengthError"},
    {0x94, "DownloadImageTooBigError"},
    {0x95, "UsbPreambleError"},
    {0x96, "UsbPreambleTimeOutError"},
    {0x97, "UartReadWriteTimeOutError"},
    {0x98, "UnknownImageError"},
    {0x99, "MessageBufferFullError"},
    {0x9A, "NoEnumerationResponseTimeOutError"},
    {0x9B, "UnknownProtocolCmd"},
    {0xB0, "JtagReEnableError"},
    {0xB1, "JtagReEnableOEMPubKeyError"},
    {0xB2, "JtagReEnableOEMSignedPassWdError"},
    {0xB3, "JtagReEnableTimeOutError"},
    {0xB4, "JtagReEnableOEMKeyLengthError"},
};

const char *mvl_error_description(uint8_t code) {
  for (const auto &row : MVL_ERROR_CODES)
    if (row.code == code) return row.description;
  return nullptr;
}

}  // extern "C"
