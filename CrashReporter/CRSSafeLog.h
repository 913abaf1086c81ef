#pragma once
// Diagnostics that may be written at crash time: the text goes to standard error unchanged, in one
// write() (no formatting, no allocation). A null text is written as "(NULL)".
void CRSSafeLog(const char* text);
