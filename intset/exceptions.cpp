#include "intset/exceptions.h"

#include <string>
#include <utility>

#include "intset/messages.h"

namespace intset {

Exception::Exception(std::string message) : message_(std::move(message)) {}

EOutOfMemory::EOutOfMemory() : Exception(messages::out_of_memory) {}

ETooManyMembers::ETooManyMembers() : Exception(messages::too_many_members) {}

ENumbrelle::ENumbrelle() : Exception(messages::crc_error) {}

EFOpenError::EFOpenError(const std::string& file_name, const std::string& reason, std::error_code code)
    : Exception(messages::format_message(messages::cannot_open_file, {file_name, reason})), code_(code) {}

EFCreateError::EFCreateError(const std::string& file_name, const std::string& reason, std::error_code code)
    : Exception(messages::format_message(messages::cannot_create_file, {file_name, reason})), code_(code) {}

EUnorderedBlocks::EUnorderedBlocks() : Exception(messages::unordered_blocks) {}

ETooManyBlocks::ETooManyBlocks(std::int64_t needed, std::int64_t limit)
    : Exception(needed == 1 ? messages::too_many_blocks_one
                            : messages::format_message(messages::too_many_blocks,
                                                       {std::to_string(needed), std::to_string(limit)})),
      needed_(needed),
      limit_(limit) {}

EReadError::EReadError() : Exception(messages::stream_read_error) {}

EWriteError::EWriteError() : Exception(messages::stream_write_error) {}

}  // namespace intset
