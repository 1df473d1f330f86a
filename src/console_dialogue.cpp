#include "console_dialogue.h"

#include <cmath>

#include "quoted_text.h"

ConsoleDialogue::ConsoleDialogue(ConsoleInput& in, std::ostream& out, std::ostream& warnings)
    : _in(in), _out(out), _warnings(warnings)
{
}

void ConsoleDialogue::ask(const char* question)
{
    _out << question << std::endl;
}

bool ConsoleDialogue::data_file_name(std::string& name)
{
    ask("\n\nType the name of the data file !");
    return _in.read_word(name);
}

// A one-letter answer takes the first character typed. When a whole word was
// typed ("yes", "no"), the rest of it stays in the input and answers the next
// question; that is kept, and said, naming the question the rest will answer
// after a yes and after anything else.
bool ConsoleDialogue::one_letter(char& answer, const char* rest_after_yes, const char* rest_otherwise)
{
    char letter = 0;
    if (!_in.read_char(letter))
        return false;
    answer = letter;
    const std::string rest = _in.rest_of_token();
    if (!rest.empty())
        _warnings << "Warning: the answer " << quoted(std::string(1, letter) + rest)
                  << " was read as its first letter, " << quoted(std::string(1, letter)) << "; the rest, "
                  << quoted(rest) << ", stays in the input and answers "
                  << (letter == 'y' || letter == 'Y' ? rest_after_yes : rest_otherwise) << std::endl;
    return true;
}

bool ConsoleDialogue::divergence_answer(char& answer)
{
    ask("\n\nTake into account molecular divergence between alleles <y,n> !");
    return one_letter(answer, "the bootstrap question", "the bootstrap question");
}

bool ConsoleDialogue::bootstrap_answer(char& answer)
{
    _out << "\n\nBootstrap estimates of the coefficients " << "and their standard deviations <y,n> ?" << std::endl;
    return one_letter(answer, "the question of the number of replicates", "the last question, which ends the run");
}

// A number typed with more after its digits ("1e6", "2.5", "1,000") gives its
// leading whole number, and the rest stays for the next question; that is kept,
// and said, since the next question then fails or takes a wrong answer.
void ConsoleDialogue::warn_about_rest_of_number(const char* what, long long taken, const char* question_of_the_rest)
{
    const std::string rest = _in.rest_of_token();
    if (rest.empty())
        return;
    _warnings << "Warning: " << what << " was typed as " << quoted(_in.last_number_text() + rest)
              << "; only its leading whole number, " << taken << ", was taken, and the rest, " << quoted(rest)
              << ", stays in the input for " << question_of_the_rest << std::endl;
}

bool ConsoleDialogue::replicate_count(int& count)
{
    ask("\n\nHow many bootstrap replicates ?");
    if (!_in.read_int(count))
        return false;
    warn_about_rest_of_number("the number of replicates", count,
                              count > 0 ? "the seed question" : "the last question, which ends the run");
    return true;
}

bool ConsoleDialogue::seed(std::uint32_t& seed)
{
    ask("\n\nInput the seed for the random number generator (any integer)");
    if (!_in.read_uint32(seed))
        return false;
    warn_about_rest_of_number("the seed", seed, "the last question, which ends the run");
    return true;
}

void ConsoleDialogue::closing()
{
    ask("\n\nThanks to have used Corvane2_0 !");
    ask("Enter dummy character to quit !");
    char dummy = 0;
    _in.read_char(dummy);  // the end of the input ends the run just as well
}

void ConsoleDialogue::replicate_starting(int replicate, int replicates)
{
    if (std::fmod(static_cast<double>(replicate), 10.0) == 0.0)
        _out << "Bootstrap # " << replicate << "/" << replicates << std::endl;
}

void ConsoleDialogue::draw_found_no_copy(int random_number)
{
    _out << "random_number: " << random_number << std::endl;
    _out << "Problem ! Should never be the case !" << std::endl;
    char dummy = 0;
    _in.read_char(dummy);
}
