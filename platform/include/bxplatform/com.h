// The component-object layer in one include: scalar names, result codes and GUIDs, automation
// strings, VARIANTs and the Invoke argument block, IUnknown/IDispatch, ComPtr and RefCounted,
// error objects, connection points, class factories, the class registry, object creation, and
// type descriptions with late binding (GetIDsOfNames, Invoke) and type info.
// See each header for its thread rule.
#pragma once

#include <bxplatform/com_connection.h>
#include <bxplatform/com_control.h>
#include <bxplatform/com_create.h>
#include <bxplatform/com_dispatch.h>
#include <bxplatform/com_error.h>
#include <bxplatform/com_factory.h>
#include <bxplatform/com_object.h>
#include <bxplatform/com_registry.h>
#include <bxplatform/com_stream.h>
#include <bxplatform/com_string.h>
#include <bxplatform/com_types.h>
#include <bxplatform/com_variant.h>
