#ifndef CORVANE_CONSOLE_DIALOGUE_H
#define CORVANE_CONSOLE_DIALOGUE_H

#include <iostream>

#include "console_input.h"
#include "dialogue.h"

// The dialogue at a text console: each question is printed, then its answer is
// read token by token from the one console reader, so that what a typed line
// holds beyond the answer stays for the next question. Answers that are read
// differently from what was probably meant (a word at a one-letter question, a
// number followed by more characters) are read all the same, with a warning.
class ConsoleDialogue : public Dialogue {
public:
    ConsoleDialogue(ConsoleInput& in, std::ostream& out, std::ostream& warnings = std::cerr);

    bool data_file_name(std::string& name) override;
    bool divergence_answer(char& answer) override;
    bool bootstrap_answer(char& answer) override;
    bool replicate_count(int& count) override;
    bool seed(std::uint32_t& seed) override;
    void closing() override;

    std::ostream& dialogue_text() override { return _out; }
    std::ostream& messages() override { return _out; }
    std::ostream& warnings() override { return _warnings; }

    void replicate_starting(int replicate, int replicates) override;
    void replicates_done(int) override {}
    void draw_found_no_copy(int random_number) override;

private:
    void ask(const char* question);
    bool one_letter(char& answer, const char* rest_after_yes, const char* rest_otherwise);
    void warn_about_rest_of_number(const char* what, long long taken, const char* question_of_the_rest);

    ConsoleInput& _in;
    std::ostream& _out;
    std::ostream& _warnings;
};

#endif
