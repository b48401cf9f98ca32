// Command pages built from the record description: one value widget per
// field, requests packed from the widgets' texts, responses shown in them.
#pragma once

#include "records.h"

#include <cstdint>

namespace zem {
class Connection;
}

class base_io_widget;
class iopanel;

// The value widget of a field, for the request or the response side, with the
// field's named values attached.
base_io_widget *createFieldWidget(const zem::Field &field, bool request);

// Adds a widget for every request and response field of the command.
void populatePage(iopanel &page, const zem::Command &command);

// Writes the widget's text into the field's bytes of a record. Texts are
// converted whatever their validity colour; what does not convert becomes 0.
void packField(const zem::Field &field, base_io_widget &widget, unsigned char *record);

// Shows the field's value from a record in its output widget.
void unpackField(const zem::Field &field, const unsigned char *record, base_io_widget &widget);

// Packs the command's request record (zem::kMaxRecordSize bytes at most) from
// the page's request widgets, as Send sends it.
void packRequest(const zem::Command &command, iopanel &page, unsigned char *request);

// Runs the command against the device: packs the request from the page, calls
// the library and shows the response when the result says it is valid (0 or
// -3). When response is given, the response record's bytes are copied there
// too, for views that need the values rather than their shown texts.
std::int32_t runCommand(const zem::Command &command, iopanel &page, zem::Connection &device,
    unsigned char *response = nullptr);

// The same with the request record given as bytes (command.request->size of
// them, ignored when the command has none) instead of packed from the page,
// as sending a recorded call again does.
std::int32_t runCommandWith(const zem::Command &command, const unsigned char *request,
    iopanel &page, zem::Connection &device, unsigned char *response = nullptr);

// Shows a response record in the page when the result says it is valid (0 or -3).
void showResponse(
    const zem::Command &command, std::int32_t result, const unsigned char *response, iopanel &page);

// Copies the getter page's response texts into the setter page's request
// widgets, position by position, as far as both have fields.
void copyResponsesToRequests(const iopanel &getter, iopanel &setter);

// The command of that name, or null.
const zem::Command *findCommand(const char *name);
