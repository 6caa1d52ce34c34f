// The module's two class identifiers. Hosts and registries keep them: never change them.
#pragma once

#include <guiddef.h>

namespace qp::filter {

// {DA6F01A7-B40D-45AB-9724-96D25380706C}: the filter, "Quor Plemo".
inline constexpr GUID kVideoSourceFilterClassId = {
    0xda6f01a7, 0xb40d, 0x45ab, {0x97, 0x24, 0x96, 0xd2, 0x53, 0x80, 0x70, 0x6c}};

// {0B4C6AAF-D138-42FF-9AFB-3E15A85D9AD3}: its about page, "QuorPlemo Props".
inline constexpr GUID kAboutPageClassId = {
    0x0b4c6aaf, 0xd138, 0x42ff, {0x9a, 0xfb, 0x3e, 0x15, 0xa8, 0x5d, 0x9a, 0xd3}};

}  // namespace qp::filter
