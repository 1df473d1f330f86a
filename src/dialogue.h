#ifndef CORVANE_DIALOGUE_H
#define CORVANE_DIALOGUE_H

#include <cstdint>
#include <ostream>
#include <string>

// The questions a run asks and the text it shows, whoever answers them: a user
// at the console (ConsoleDialogue) or the options of a command line. The run
// itself is the same either way; only where answers come from and where its text
// goes differ.
class Dialogue {
public:
    virtual ~Dialogue() = default;

    // Each question gives false when no answer can be had (the input ended, or
    // held no answer of the kind asked for); the target is then left as it was.
    virtual bool data_file_name(std::string& name) = 0;
    virtual bool divergence_answer(char& answer) = 0;
    virtual bool bootstrap_answer(char& answer) = 0;
    virtual bool replicate_count(int& count) = 0;
    virtual bool seed(std::uint32_t& seed) = 0;
    // The closing lines and the last answer of a complete run.
    virtual void closing() = 0;

    // The banner and other text that belongs to the console dialogue only.
    virtual std::ostream& dialogue_text() = 0;
    // Messages of the run: error stops and notes such as an impossible bootstrap.
    virtual std::ostream& messages() = 0;
    // Warnings about doubtful input or results, never mixed into the dialogue.
    virtual std::ostream& warnings() = 0;

    // The data file's bytes as they were read, so that a front can record what
    // was analysed (its size and checksum) even if the file changes later. It
    // may be called on a thread of its own while the engine parses the bytes,
    // and has returned before the engine goes on to the estimate; it must touch
    // nothing the other calls touch.
    virtual void data_file_read(const std::string& /*bytes*/) {}

    // Progress of the bootstrap: called before replicate r of n is drawn, and
    // once more when all n are done.
    virtual void replicate_starting(int replicate, int replicates) = 0;
    virtual void replicates_done(int replicates) = 0;

    // A draw that found a haplotype without copies (inconsistent data only): the
    // random number is shown and the run waits for a character.
    virtual void draw_found_no_copy(int random_number) = 0;
};

#endif
