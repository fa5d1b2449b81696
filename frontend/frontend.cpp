// The dialogues' shared step at the end of a game: what it taught goes to the
// books and the learning file.
#include "engine/frontendport.h"

#include "books/booklist.h"
#include "engine/learning.h"

void FrontEnd::LearnFromGame(ChessGame& game) {
  OfferGameToBooks(game, EngineSide);
  // The learning table is saved whether or not the game had ended.
  if (ActiveLearning) ActiveLearning->Save();
}
