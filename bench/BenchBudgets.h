// How much slower than its baseline each piece of work may be: the highest ratio of medians
// (ours / baseline) we accept. The summary prints the budget beside each row and marks a row
// over it; nothing fails on it, since a shared machine's noise would make such a check lie.
// A budget covers the work of that name and every work below it ("FileInfo-key" covers
// "FileInfo-key/4096K"); the most specific one applies.
#pragma once

struct TBudget {
  const char* Work;
  double MaxRatio;
};

inline constexpr TBudget kBudgets[] = {
    // Our binding is a thin layer over the same libcrypto calls.
    {"SelfSigned", 1.10},
    {"CASigned", 1.10},
    {"KeyToPEM-password", 1.10},
    {"LoadCertificateFromPEMFile", 1.10},
    {"LoadFromP12File", 1.10},
    {"SaveToPKCS12-with-CA-durable", 1.10},
    // RSA generation varies by a factor of several from key to key; a few keys per repetition
    // leave the medians that much less steady.
    {"SelfSigned/RSA-2048-keygen", 1.25},
    // Ours flushes to disk before renaming, the baseline writes and is done: the price of
    // never leaving a half-written key.
    {"SaveToPKCS12-with-CA", 2.00},
    // A row per listed file, its cells and a repaint, over the bare directory look-ups.
    {"StoreList-10000", 3.00},
    // The description panel (status, dates, text) over reading the object alone; it fades
    // as the file grows.
    {"FileInfo-certificate", 1.50},
    {"FileInfo-key", 1.50},
    // Qt building our form dominates the start; our own start-up code may add a quarter.
    {"WindowStart-over-bare-form", 1.25},
    {"WindowStart", 10.00},
    // The whole program, libraries, form and store listing included, against a bare Qt window.
    {"WindowStart-process", 3.00},
};
