// kestrune::Error as the C interface's kestrune_status: the same values, but for the C
// interface's own KESTRUNE_NULL_ARGUMENT, which no Error has.
#pragma once

#include "kestrune/kestrune.h"
#include "kestrune/kestrune.hpp"

namespace kestrune::detail {

struct ErrorStatus {
    Error error;
    kestrune_status status;
};
inline constexpr ErrorStatus kErrorStatuses[] = {
    {Error::none, KESTRUNE_OK},
    {Error::invalid_rate, KESTRUNE_INVALID_RATE},
    {Error::invalid_bits, KESTRUNE_INVALID_BITS},
    {Error::invalid_level, KESTRUNE_INVALID_LEVEL},
    {Error::not_device_file, KESTRUNE_NOT_DEVICE_FILE},
    {Error::truncated, KESTRUNE_TRUNCATED},
    {Error::too_long, KESTRUNE_TOO_LONG},
    {Error::length_mismatch, KESTRUNE_LENGTH_MISMATCH},
    {Error::write_failed, KESTRUNE_WRITE_FAILED},
    {Error::finished, KESTRUNE_FINISHED},
    {Error::invalid_tune, KESTRUNE_INVALID_TUNE},
    {Error::out_of_memory, KESTRUNE_OUT_OF_MEMORY},
    {Error::cannot_open, KESTRUNE_CANNOT_OPEN},
    {Error::not_audio, KESTRUNE_NOT_AUDIO},
    {Error::read_failed, KESTRUNE_READ_FAILED},
    {Error::invalid_channel, KESTRUNE_INVALID_CHANNEL},
    {Error::invalid_option, KESTRUNE_INVALID_OPTION},
};

// Every Error has its row, and a status of the same value: the conversion is a cast.
constexpr bool errorsAreStatuses() {
    int next = 0;
    for (const ErrorStatus& row : kErrorStatuses) {
        if (next == KESTRUNE_NULL_ARGUMENT) ++next;
        if (static_cast<int>(row.error) != next++ || static_cast<int>(row.status) != int(row.error))
            return false;
    }
    return next == static_cast<int>(Error::invalid_option) + 1;
}
static_assert(errorsAreStatuses());

constexpr kestrune_status cStatus(Error e) {
    return static_cast<kestrune_status>(e);
}

}  // namespace kestrune::detail
