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

// Where the goal is a time the user waits rather than a comparison: the highest median of
// ours, in seconds. The summary shows it in the budget column, with its unit, in place of a
// ratio; the row's baseline is then only a floor to read it against.
struct TTimeBudget {
  const char* Work;
  double MaxSeconds;
};

inline constexpr TTimeBudget kTimeBudgets[] = {
    // Scripts and shell completions start the command line for the least of answers; that
    // start must stay out of the way however much the libraries behind it grow.
    {"CLI-version", 0.010},
    // While the window works on a command it must go on answering: the longest the event loop
    // leaves a 10 ms timer waiting, from the click until the work is over, stays below what a
    // user notices as a stutter in painting or moving the window.
    {"LongestGap", 0.050},
    // Revoking one certificate in a CRL that already lists 10,000 (read, verify, add, sign,
    // durable write) stays a moment the user does not wait for.
    {"Revoke-in-CRL-of-10000", 0.050},
};

inline constexpr TBudget kBudgets[] = {
    // Our binding is a thin layer over the same libcrypto calls.
    {"SelfSigned", 1.10},
    // Ed25519 keys and signatures cost next to nothing, so the issuance around them shows:
    // ours must not be slower than Python's cryptography doing the same over libcrypto.
    {"SelfSigned/Ed25519-vs-python-cryptography", 1.00},
    {"CASigned", 1.10},
    // Reading and verifying somebody's request, then issuing for its key, over the same calls.
    {"SignRequest", 1.10},
    {"KeyToPEM-password", 1.10},
    {"LoadCertificateFromPEMFile", 1.10},
    {"LoadFromP12File", 1.10},
    // Every bundle is read back with its password and compared before it replaces anything:
    // one PKCS12_parse more than the baseline's write, whose key derivations cost as much as
    // the writing's.
    {"SaveToPKCS12-with-CA-durable", 2.50},
    // RSA generation varies by a factor of several from key to key; a few keys per repetition
    // leave the medians that much less steady.
    {"SelfSigned/RSA-2048-keygen", 1.25},
    // Ours flushes to disk before renaming and reads the bundle back, the baseline writes and
    // is done: the price of never leaving a half-written key or a bundle that does not open.
    {"SaveToPKCS12-with-CA", 3.00},
    // A row per listed file in the list's order and a repaint, over the bare directory
    // look-ups: sorting and handing the rows to the window may add half.
    {"StoreList-10000", 1.50},
    // A refresh of a store of 100,000 files stays close to the directory look-ups themselves.
    {"StoreList-100000", 1.30},
    // Starting on such a store: its files are looked up once (one listing floor), on top of
    // an ordinary start.
    {"WindowStart-store-100000", 1.15},
    // A store's CRLs are read behind its list, like the Expires dates: one that lists 100,000
    // certificates leaves the list as quick as the same store without it.
    {"StoreList-CRLs-of-100000", 1.10},
    // The description panel (status, dates, text) over reading the object alone; it fades
    // as the file grows.
    {"FileInfo-certificate", 1.50},
    {"FileInfo-key", 1.50},
    // Qt building our form dominates the start; our own start-up code may add a quarter.
    {"WindowStart-over-bare-form", 1.25},
    {"WindowStart", 10.00},
    // The whole program, libraries, form and store listing included, against a bare Qt window.
    {"WindowStart-process", 2.00},
    // The command line against openssl doing the same work, each a whole process. In user
    // space ours runs the same libcrypto work, and its loader, argument parsing and output
    // code may add a tenth; it executes no more instructions than openssl (counted by
    // callgrind, one run per side, since a count does not vary with the machine's load).
    {"CLI-cert-selfsigned/user", 1.10},
    {"CLI-cert-casigned-p12/user", 1.10},
    {"CLI-sign-request/user", 1.10},
    {"CLI-cert-selfsigned/instructions", 1.00},
    {"CLI-cert-casigned-p12/instructions", 1.00},
    {"CLI-sign-request/instructions", 1.00},
    // What the processor time holds above the user time is the system time of mapping QtCore
    // and the libraries it brings (ICU, glib, PCRE2 and others), which the command line keeps
    // because it shares core with the window; on one certificate's work that may double it.
    {"CLI-cert-selfsigned/cpu", 2.00},
    {"CLI-cert-casigned-p12/cpu", 2.00},
    {"CLI-sign-request/cpu", 2.00},
    // Our wall time also holds putting every output in place durably (flushed to disk,
    // renamed, the store folder flushed), which openssl does not do.
    {"CLI-cert-selfsigned/wall", 1.50},
    {"CLI-cert-casigned-p12/wall", 1.50},
    {"CLI-sign-request/wall", 1.50},
    // With openssl's outputs put in place the same way, what is left of the wall gap is our
    // start and our work, which the processor time's budget already bounds.
    {"CLI-cert-selfsigned-durable", 1.20},
    // Provisioning many devices takes one process, not one per certificate: per certificate a
    // batch on one worker may cost a fifth of the processor time of openssl run twice for it
    // (request, then signature) from a shell loop.
    {"CLI-batch-vs-openssl-loop/cpu", 0.20},
    // Two workers on two cores finish in at most 1/1.8 of one worker's time.
    {"CLI-batch-jobs2-vs-jobs1/wall", 0.556},
};

// A batch streams its lines: a hundred thousand of them (P-256 keys, no bundles) stay within
// this resident set, however long the file.
inline constexpr long kMaxBatchResidentBytes = 64L * 1024 * 1024;
