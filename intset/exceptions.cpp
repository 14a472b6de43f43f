#include "intset/exceptions.h"

#include <utility>

#include "intset/messages.h"

namespace intset {

Exception::Exception(std::string message) : message_(std::move(message)) {}

EOutOfMemory::EOutOfMemory() : Exception(messages::out_of_memory) {}

ETooManyMembers::ETooManyMembers() : Exception(messages::too_many_members) {}

}  // namespace intset
