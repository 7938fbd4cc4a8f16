"""The command line, ``corvane COMMAND ...``: :mod:`.main` builds the parser
from one module per subcommand; :mod:`.options` declares the options they
share and turns a user's mistake into one error line; :mod:`.analysis` reads
the input and runs the analysis for the subcommands that analyze one file.
Only command-line glue lives here: what a subcommand makes comes from the
package's own modules."""
