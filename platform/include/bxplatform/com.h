// The component-object layer in one include: scalar names, result codes and GUIDs, automation
// strings, VARIANTs and the Invoke argument block, IUnknown/IDispatch, ComPtr and RefCounted.
// See each header for its thread rule.
#pragma once

#include <bxplatform/com_object.h>
#include <bxplatform/com_string.h>
#include <bxplatform/com_types.h>
#include <bxplatform/com_variant.h>
