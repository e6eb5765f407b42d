// The numeric dispatcher's case of ISBRXMLPARSE, registered by the documents library.
#pragma once

struct Stack;

// ISBRXMLPARSE (file name, structure variable): reads the SBR document (sbr_xml_parse), then finds
// the structure and stores the handles of the six lists, as decimals, into its six columns, which
// must each be numeric with at least 20 digits; the lists are registered with the current
// application. The result is 1. A structure refused after the parse ends the run with its message.
void isbrxmlparse(int nargs, int last, Stack *result);
