#pragma once

// The command line's exit codes, the same for every command.
enum ExitCode : int
{
    Success = 0,
    AnswerError = 1,   // the account service's answer (or writing the table) failed with an error
    UsageError = 2,    // bad arguments, or a seed the batch refuses
    LoginRefused = 3,  // wrong user name or password, or the login request failed
    Interrupted = 130, // Ctrl-C: the batch was stopped and the rows so far written
};
