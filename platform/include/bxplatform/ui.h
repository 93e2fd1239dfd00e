// The headless form toolkit in one include: basic types (ui_base.h), services such as message
// boxes, beep, cursor, message queue and window handles (ui_services.h), and forms with their
// controls (ui_controls.h).
#pragma once

#include <bxplatform/ui_base.h>
#include <bxplatform/ui_controls.h>
#include <bxplatform/ui_services.h>
