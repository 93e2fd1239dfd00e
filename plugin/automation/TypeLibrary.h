// The control's type library as descriptions: IBXTessvikFerroFW, the family's three camera
// interfaces, the events interface and the coclass. Invoke, GetIDsOfNames and the type
// information hosts read are all made from these.
//
// Thread rule: immutable once built (on first use); thread-safe.
#pragma once

#include <bxplatform/com_dispatch.h>

namespace ferro {

const bx::com::InterfaceDescription& DescribeIBXTessvikFerroFW();
const bx::com::InterfaceDescription& DescribeIBXCameraInterface();
const bx::com::InterfaceDescription& DescribeIBXCameraInterface2();
const bx::com::InterfaceDescription& DescribeIBXCameraInterface3();
const bx::com::InterfaceDescription& DescribeIBXTessvikFerroFWEvents();
const bx::com::CoclassDescription& DescribeBXTessvikFerroFW();

}  // namespace ferro
