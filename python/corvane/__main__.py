from corvane._cli.main import main

raise SystemExit(main())
